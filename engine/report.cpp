#include "engine/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "engine/file_io.h"
#include "res/strings.h"

namespace qx {
namespace {

// `tenths` / 10 with one decimal and a decimal comma.
std::string Tenths(int64_t tenths) {
    const bool negative = tenths < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(tenths) : static_cast<uint64_t>(tenths);
    return (negative ? "-" : "") + std::to_string(magnitude / 10) + "," + std::to_string(magnitude % 10);
}

std::string Number(int64_t value) { return value < 0 ? std::string() : std::to_string(value); }
std::string Dimension(uint32_t value) { return value == 0 ? std::string() : std::to_string(value); }
// Two decimals with a point, whatever the locale; empty when not measured.
std::string Distance(float value) {
    if (!(value >= 0)) return {};
    char text[32];
    const long long hundredths = std::llround(static_cast<double>(value) * 100);
    std::snprintf(text, sizeof text, "%lld.%02lld", hundredths / 100, hundredths % 100);
    return text;
}

// The fields of a row in file order; empty for what is not known.
struct Field {
    const char* name;  // the JSON Lines key, stable for programs that read it
    int heading;       // the CSV column's heading, for people
    std::string value;
    bool number;  // a JSON number (or null when empty) rather than a string
};

const char* ResultCode(FileResult result) {
    switch (result) {
        case FileResult::Written: return "written";
        case FileResult::Skipped: return "skipped";
        case FileResult::NotDone: return "not_done";
        case FileResult::Failed: break;
    }
    return "failed";
}

std::vector<Field> Fields(const FileOutcome& row) {
    return {
        {"source", res::IDS_REPORT_COL_SOURCE, row.sourcePath, false},
        {"target", res::IDS_REPORT_COL_TARGET, row.targetPath, false},
        {"result", res::IDS_REPORT_COL_RESULT, ResultCode(row.result), false},
        {"bytes_before", res::IDS_CSV_BYTES_BEFORE, Number(row.bytesBefore), true},
        {"bytes_after", res::IDS_CSV_BYTES_AFTER, Number(row.bytesAfter), true},
        {"width_before", res::IDS_CSV_WIDTH_BEFORE, Dimension(row.widthBefore), true},
        {"height_before", res::IDS_CSV_HEIGHT_BEFORE, Dimension(row.heightBefore), true},
        {"width_after", res::IDS_CSV_WIDTH_AFTER, Dimension(row.widthAfter), true},
        {"height_after", res::IDS_CSV_HEIGHT_AFTER, Dimension(row.heightAfter), true},
        {"message", res::IDS_CSV_MESSAGE, row.message, false},
        {"reason", res::IDS_REPORT_COL_REASON, row.reason, false},
        {"quality", res::IDS_CSV_QUALITY, Number(row.quality), true},
        {"distance", res::IDS_CSV_DISTANCE, Distance(row.distance), true},
    };
}

// The length of the valid UTF-8 character at `at`, or 0 for a stray byte.
size_t Utf8Length(const std::string& text, size_t at) {
    const auto byte = [&](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
    const auto tail = [&](size_t i) { return (byte(i) & 0xC0u) == 0x80u; };
    const unsigned c = byte(at);
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return tail(at + 1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        const unsigned c1 = byte(at + 1);
        if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F)) return 0;  // overlong, or a surrogate
        return tail(at + 1) && tail(at + 2) ? 3 : 0;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        const unsigned c1 = byte(at + 1);
        if ((c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 > 0x8F)) return 0;
        return tail(at + 1) && tail(at + 2) && tail(at + 3) ? 4 : 0;
    }
    return 0;
}

bool IsUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const size_t n = Utf8Length(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

// A CSV cell as a spreadsheet reads it: valid UTF-8 throughout, with each byte that belongs to no UTF-8
// character written as \xNN and each backslash doubled, so that the exact bytes can be told back. A cell that
// a spreadsheet would take for a formula (= + - @, tab, CR first) starts with an apostrophe; a cell holding the
// separator, a quote or a line break is quoted.
std::string CsvField(const std::string& value) {
    std::string text;
    for (size_t i = 0; i < value.size();) {
        const size_t n = Utf8Length(value, i);
        if (n == 0) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(value[i]));
            text += escaped;
            ++i;
            continue;
        }
        if (value[i] == '\\') text += '\\';
        text.append(value, i, n);
        i += n;
    }
    const bool formula = !text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
    if (formula) text.insert(0, 1, '\'');
    if (!formula && text.find_first_of(";\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const size_t n = Utf8Length(text, i);
        if (n == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out.append(text, i, n);
        }
        i += n;
    }
    return out + '"';
}

// Every byte outside printable ASCII, and "%" itself, as %XX: what any URL decoder turns back into the bytes.
std::string PercentEncoded(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c > 0x20 && c < 0x7F && c != '%') {
            out += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            out += escaped;
        }
    }
    return out;
}

}  // namespace

ReportTotals BatchReport::Totals() const {
    ReportTotals totals;
    for (const FileOutcome& row : rows) {
        switch (row.result) {
            case FileResult::Written:
                ++totals.written;
                totals.bytesBefore += std::max<int64_t>(row.bytesBefore, 0);
                totals.bytesAfter += std::max<int64_t>(row.bytesAfter, 0);
                totals.limitMissed += row.sizeLimit == SizeLimit::Missed;
                totals.limitNotApplicable += row.sizeLimit == SizeLimit::NotApplicable;
                break;
            case FileResult::Skipped: ++totals.skipped; break;
            case FileResult::Failed: ++totals.failed; break;
            case FileResult::NotDone: ++totals.notDone; break;
        }
    }
    return totals;
}

std::string FormatByteSize(int64_t bytes) {
    if (bytes < 1024) return res::FormatNumbered(res::IDS_SIZE_BYTES, {std::to_string(std::max<int64_t>(bytes, 0))});
    static const int units[] = {res::IDS_SIZE_KB, res::IDS_SIZE_MB, res::IDS_SIZE_GB};
    double value = static_cast<double>(bytes) / 1024;
    size_t unit = 0;
    // Rounded first, so that 1048575 bytes read "1,0 MB" rather than "1024,0 KB".
    while (unit + 1 < std::size(units) && std::llround(value * 10) >= 1024 * 10) {
        value /= 1024;
        ++unit;
    }
    return res::FormatNumbered(units[unit], {Tenths(std::llround(value * 10))});
}

std::optional<std::string> FormatChange(int64_t before, int64_t after) {
    if (before <= 0) return std::nullopt;
    const int64_t tenths =
        std::llround((static_cast<double>(after) - static_cast<double>(before)) * 1000.0 / static_cast<double>(before));
    std::string number = Tenths(tenths < 0 ? -tenths : tenths);
    if (tenths < 0) number = "\u2212" + number;  // the minus sign, not a hyphen
    if (tenths > 0) number = "+" + number;
    return res::FormatNumbered(res::IDS_PERCENT, {number});
}

std::string FormatSummaryLine(const ReportTotals& totals) {
    const std::string written = totals.written == 1
                                    ? res::LoadString(res::IDS_SUMMARY_ONE_IMAGE)
                                    : res::FormatNumbered(res::IDS_SUMMARY_IMAGES, {std::to_string(totals.written)});
    std::string line = res::FormatNumbered(res::IDS_SUMMARY_COUNTS,
                                           {written, std::to_string(totals.skipped), std::to_string(totals.failed)});
    if (totals.written != 0) {
        line += res::FormatNumbered(res::IDS_SUMMARY_SIZES,
                                    {FormatByteSize(totals.bytesBefore), FormatByteSize(totals.bytesAfter)});
        if (const auto change = FormatChange(totals.bytesBefore, totals.bytesAfter)) {
            line += res::FormatNumbered(res::IDS_SUMMARY_CHANGE, {*change});
        }
    }
    const std::pair<int, int> notes[] = {{totals.limitMissed, res::IDS_SUMMARY_LIMIT_MISSED},
                                         {totals.limitNotApplicable, res::IDS_SUMMARY_LIMIT_NOT_APPLICABLE},
                                         {totals.notDone, res::IDS_SUMMARY_STOPPED}};
    for (const auto& [count, text] : notes) {
        if (count > 0) line += res::FormatNumbered(text, {std::to_string(count)});
    }
    return line;
}

const std::string& ResultText(FileResult result) {
    switch (result) {
        case FileResult::Written: return res::LoadString(res::IDS_RESULT_WRITTEN);
        case FileResult::Skipped: return res::LoadString(res::IDS_RESULT_SKIPPED);
        case FileResult::NotDone: return res::LoadString(res::IDS_RESULT_NOT_DONE);
        case FileResult::Failed: break;
    }
    return res::LoadString(res::IDS_RESULT_FAILED);
}

std::optional<ReportFormat> ReportFormatForPath(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::nullopt;
    std::string extension = path.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    // A name that is nothing but the extension (".csv") is a hidden file, not a report with a name.
    if (dot == (slash == std::string::npos ? 0 : slash + 1)) return std::nullopt;
    if (extension == ".csv") return ReportFormat::Csv;
    if (extension == ".jsonl") return ReportFormat::JsonLines;
    return std::nullopt;
}

std::string ReportCsv(const BatchReport& report) {
    // The byte order mark and the semicolon are what a spreadsheet in a German locale opens as UTF-8 columns.
    std::string out = "\xEF\xBB\xBF";
    const std::vector<Field> header = Fields(FileOutcome{});
    for (size_t i = 0; i < header.size(); ++i) out += (i ? ";" : "") + CsvField(res::LoadString(header[i].heading));
    out += "\r\n";
    for (const FileOutcome& row : report.rows) {
        const std::vector<Field> fields = Fields(row);
        for (size_t i = 0; i < fields.size(); ++i) {
            const bool result = std::string_view(fields[i].name) == "result";
            std::string value = result ? ResultText(row.result) : fields[i].value;
            if (fields[i].number) std::replace(value.begin(), value.end(), '.', ',');  // a German spreadsheet's decimal
            out += (i ? ";" : "") + CsvField(value);
        }
        out += "\r\n";
    }
    return out;
}

std::string ReportJsonLines(const BatchReport& report) {
    std::string out;
    for (const FileOutcome& row : report.rows) {
        std::string line;
        for (const Field& field : Fields(row)) {
            line += line.empty() ? "{" : ",";
            line += JsonString(field.name) + ":";
            if (field.number)
                line += field.value.empty() ? "null" : field.value;
            else
                line += JsonString(field.value);
            if (!field.number && (std::string(field.name) == "source" || std::string(field.name) == "target") &&
                !IsUtf8(field.value)) {
                line += "," + JsonString(std::string(field.name) + "_bytes") + ":" +
                        JsonString(PercentEncoded(field.value));
            }
        }
        out += line + "}\n";
    }
    return out;
}

bool WriteReportFile(const std::string& path, ReportFormat format, const BatchReport& report) {
    const std::string text = format == ReportFormat::Csv ? ReportCsv(report) : ReportJsonLines(report);
    files::ReplaceOptions options;
    options.throughLinks = true;
    options.keepModeAndOwner = true;
    options.refuseUnwritable = true;
    return files::ReplaceFileAtomically(
        path, [&text](int fd) { return files::WriteAll(fd, text.data(), text.size()); }, options);
}

}  // namespace qx
