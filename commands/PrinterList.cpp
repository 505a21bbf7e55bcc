#include "commands/PrinterList.h"

// TODO(printing): enumerate through the platform printer layer.
QJsonArray getPrinterList()
{
    return QJsonArray();
}
