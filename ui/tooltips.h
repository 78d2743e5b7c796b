// Tooltips of the main window's controls: the text is field 1 of the string numbered like the control.
#pragma once

#include <QString>
#include <string>

class QFontMetrics;

namespace qx {

// Field 1 of string `id` (after the first "\n", up to the next), the string cut to 255 bytes first; each
// "\r" becomes "\r\n". Empty when there is no such string or it holds no "\n".
std::string ToolTipText(int id);
// The tip as shown: line breaks at each "\r\n" and wrapped at `maxWidth` pixels in `metrics`.
QString WrapToolTip(const std::string& tip, const QFontMetrics& metrics, int maxWidth = 300);

}  // namespace qx
