#pragma once

#include <QString>

// The cashier page marks a receipt's logo by writing its image tag with two blanks before "src=".
bool hasLogoTag(const QString &strHtml);

// The address of the first logo image of a receipt: the text between the double quotes after the
// first logo tag that is followed by a double quote.
QString extractLogoAddress(const QString &strHtml);
