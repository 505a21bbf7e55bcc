import QtQuick 2.7
import QtQuick.Controls 2.0
import QtQuick.Layouts 1.3
import Qt.labs.platform 1.0

ApplicationWindow {
    id: window
    visible: true
    width: 500
    height: 300

    Component.onCompleted: {
        if (Qt.platform.os !== "android") {
            // Fixed size: the layout is drawn for exactly this window.
            minimumWidth = width
            maximumWidth = width
            minimumHeight = height
            maximumHeight = height
            title = qsTr("Corvel打印控件 V%1  (").arg(appVersion) + mainwindow.getAddressIP() + qsTr(" : %1)").arg(httpPort)
        }
    }

    // Closing only hides the window; the service keeps running in the tray.
    onClosing: {
        close.accepted = false
        window.hide()
    }

    MainForm {
        anchors.fill: parent
    }

    SystemTrayIcon {
        id: trayIcon
        objectName: "trayIcon"
        // Icon first, then visible: the tray never gets an empty slot.
        iconSource: "qrc:/images/tubiao.png"
        visible: true
        tooltip: "tooltip"

        onActivated: window.show()

        menu: Menu {
            MenuItem {
                objectName: "showItem"
                text: "打开主界面"
                onTriggered: window.show()
            }
            MenuItem {
                objectName: "hideItem"
                text: "隐藏窗口"
                onTriggered: window.hide()
            }
            MenuItem {
                objectName: "quitItem"
                text: "关闭程序"
                onTriggered: Qt.quit()
            }
        }
    }
}
