#pragma once

#include <QString>

namespace study {

// Anki fields are HTML: the text a reader sees, with <br> and block ends as
// line breaks and entities decoded.
QString htmlToText(const QString& html);

} // namespace study
