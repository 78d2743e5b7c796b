#include "cli/console_host.h"

#include "cli/options.h"
#include "res/strings.h"
#include "settings/settings.h"

namespace qx::cli {
namespace {

constexpr int kBarWidth = 40;

}  // namespace

ConsoleHost::ConsoleHost(const MainSettings& main, const ParameterSettings& parameters, ProgressStyle style,
                         std::FILE* out, bool verbose)
    : main_(main), parameters_(parameters), style_(style), out_(out), verbose_(verbose) {}

bool ConsoleHost::ExchangeAndValidate() {
    // The window refuses to start a batch with these values out of their ranges; so does the command line,
    // whether a value came from an option (checked already) or from a hand-edited settings file. A naming
    // mode without a naming rule would make every output fail: refused here before any file is looked at.
    const settings::SettingKey* refused = nullptr;
    for (const char* key :
         {settings::kRate, settings::kProzent, settings::kBreite, settings::kHoehe, settings::kAusgabeDateiTyp}) {
        const settings::SettingKey& row = settings::Key(key);
        if (!row.InRange(settings::IntValue(row, main_, parameters_))) {
            refused = &row;
            break;
        }
    }
    if (refused == nullptr) refused = settings::AdvancedValueOutOfRange(advanced_);
    if (refused != nullptr) {
        ClearBar();
        std::fprintf(out_, "%s: %s\n", res::LoadString(res::IDS_CLI_PROGRAM).c_str(),
                     settings::StoredValueMessage(*refused, settings::IntValue(*refused, main_, parameters_, advanced_))
                         .c_str());
        std::fflush(out_);
        return false;
    }
    validated_ = true;
    return true;
}

void ConsoleHost::SetProgressRange(int, int upper) {
    // The first range is the whole list; the later one covers only the jobs still running.
    if (total_ >= 0) return;
    total_ = upper;
    Show(done_, total_);
}

void ConsoleHost::OnFileDone(const FileOutcome& outcome) {
    // Written, but larger than asked: said at once, like a failure, so that it is not found only in a report.
    if (outcome.sizeLimit == SizeLimit::Missed)
        ShowMessage(res::FormatNumbered(res::IDS_LIMIT_MISSED_LINE, {outcome.targetPath}));
    ++done_;
    Show(done_, total_);
}

void ConsoleHost::EndWaitCursor() {
    if (barOnScreen_) {
        std::fputc('\n', out_);
        std::fflush(out_);
        barOnScreen_ = false;
    }
}

void ConsoleHost::ShowMessage(const std::string& message) { ShowFailure(message, std::string()); }

void ConsoleHost::ShowFailure(const std::string& message, const std::string& reason) {
    const bool redraw = barOnScreen_;
    ClearBar();
    std::fprintf(out_, "%s\n", message.c_str());
    if (verbose_ && !reason.empty()) std::fprintf(out_, "%s\n", reason.c_str());
    std::fflush(out_);
    if (redraw) {
        const int value = shown_;
        shown_ = -1;
        Show(value, total_);
    }
}

void ConsoleHost::Show(int done, int total) {
    if (style_ == ProgressStyle::None || total <= 0) return;
    if (done < 0) done = 0;
    if (done > total) done = total;
    if (done == shown_) return;
    shown_ = done;
    if (style_ == ProgressStyle::Lines) {
        std::fprintf(out_, "%s: %d/%d\n", res::LoadString(res::IDS_CLI_PROGRESS).c_str(), done, total);
    } else {
        const int filled = static_cast<int>(static_cast<int64_t>(done) * kBarWidth / total);
        std::string bar(static_cast<size_t>(filled), '#');
        bar.append(static_cast<size_t>(kBarWidth - filled), '.');
        std::fprintf(out_, "\r[%s] %d/%d", bar.c_str(), done, total);
        barOnScreen_ = true;
    }
    std::fflush(out_);
}

void ConsoleHost::ClearBar() {
    if (!barOnScreen_) return;
    std::fputs("\r\033[K", out_);
    barOnScreen_ = false;
}

}  // namespace qx::cli
