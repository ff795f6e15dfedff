// The fixed lists of the object command panel's three combo boxes, in the order they are shown.
#pragma once

#include <QStringList>

namespace qv::tools {

// Object formats (combo 1021): data rows "<number> = VRD_<name>_FORMAT /* <comment> */" with
// blanks aligning the columns, group headings "/* ... */", empty rows and rows of blanks. Only a
// row's leading number matters to the panel. 81 rows.
const QStringList& ObjectFormatRows();
// The format row whose number is `text` exactly ("30" finds none: 300's row is not 30's); -1
// when no row has that number.
int FormatRowNumbered(const QString& text);

// Object types of the write command (combo 1022); rows beginning "//" are group titles. 48 rows.
const QStringList& ObjectTypeRows();

// Categories of the list command (combo 1023). 8 rows.
const QStringList& ObjectCategoryRows();

}  // namespace qv::tools
