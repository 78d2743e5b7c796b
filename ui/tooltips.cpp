#include "ui/tooltips.h"

#include <QFontMetrics>
#include <QStringList>

#include "res/strings.h"

namespace qx {

std::string ToolTipText(int id) {
    std::string buffer = res::LoadString(id);
    if (buffer.size() > 255) buffer.resize(255);
    const size_t start = buffer.find('\n');
    if (start == std::string::npos) return {};
    const size_t end = buffer.find('\n', start + 1);
    std::string field = buffer.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
    std::string tip;
    for (char c : field) {
        tip += c;
        if (c == '\r') tip += '\n';
    }
    return tip;
}

QString WrapToolTip(const std::string& tip, const QFontMetrics& metrics, int maxWidth) {
    QStringList lines;
    for (const QString& paragraph : QString::fromUtf8(tip).split(QStringLiteral("\r\n"))) {
        QString line;
        for (const QString& word : paragraph.split(QLatin1Char(' '))) {
            const QString candidate = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
            if (!line.isEmpty() && metrics.horizontalAdvance(candidate) > maxWidth) {
                lines << line;
                line = word;
            } else {
                line = candidate;
            }
        }
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

}  // namespace qx
