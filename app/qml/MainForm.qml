import QtQuick 2.7
import QtQuick.Controls 2.0

Item {
    id: form

    Image {
        id: badge
        source: "/images/bj.png"
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.verticalCenter: parent.verticalCenter
        anchors.verticalCenterOffset: -40
    }

    Text {
        id: waitingText
        objectName: "waitingText"
        anchors.top: badge.bottom
        anchors.topMargin: 20
        anchors.horizontalCenter: parent.horizontalCenter
        color: "black"
        font.pixelSize: 23
        elide: Text.ElideRight
        textFormat: Text.RichText
        text: "正在运行，等待打印：" + "<font color=\"red\">" + mainwindow.getPrintQuantity
    }

    // The cashier looks here: a port the page cannot reach replaces the usual hint, in red.
    Text {
        id: hintText
        objectName: "hintText"
        anchors.top: waitingText.bottom
        anchors.topMargin: 20
        anchors.horizontalCenter: parent.horizontalCenter
        width: form.width - 20
        horizontalAlignment: Text.AlignHCenter
        color: mainwindow.portProblem === "" ? "#808080" : "red"
        font.pixelSize: 15
        wrapMode: Text.Wrap
        maximumLineCount: 2
        elide: Text.ElideRight
        text: mainwindow.portProblem === "" ? "Corvel收银台打印小票必须运行Corvel打印控件" : mainwindow.portProblem
    }

    CheckBox {
        id: powerBoot
        objectName: "powerBootBox"
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 10
        anchors.right: parent.right
        anchors.rightMargin: 10
        text: qsTr("开机启动")
        checked: mainwindow.isPowerBoot
        visible: mainwindow.isOpenAutoStart()
        onCheckedChanged: mainwindow.setPowerBoot(checked)
    }

    BusyIndicator {
        anchors.centerIn: parent
        running: false
    }
}
