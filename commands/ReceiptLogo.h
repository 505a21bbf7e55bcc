#pragma once

#include <QString>

// The address of the first logo image of a receipt: the text between the double quotes
// after the first "<img  src=" (two blanks) that is followed by a double quote.
QString extractLogoAddress(const QString &strHtml);
