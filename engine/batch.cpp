#include "engine/batch.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <tuple>
#include <vector>

#include "engine/batch_testing.h"
#include "engine/compress.h"
#include "engine/output_ledger.h"
#include "res/strings.h"

namespace qx {
namespace {

// How long the calling thread waits on one job's done event before it looks at the next.
constexpr auto kPollWait = std::chrono::milliseconds(50);

std::mutex& StarterMutex() {
    static std::mutex mutex;
    return mutex;
}

testing::ThreadStarter& Starter() {
    static testing::ThreadStarter starter;
    return starter;
}

std::atomic<MemoryBudget*> budgetOverride{nullptr};

std::thread StartThread(std::function<void()> body) {
    testing::ThreadStarter starter;
    {
        std::lock_guard lock(StarterMutex());
        starter = Starter();
    }
    if (starter) return starter(std::move(body));
    return std::thread(std::move(body));
}

// What the calling thread waits for, shared by all jobs of a batch: jobs that are done and not yet
// seen, and worker messages not yet shown. A wait on one job ends early when another job is done or a
// message waits, so that a free place or a question is never held back for the rest of a 50 ms poll.
class Doorbell {
public:
    std::mutex mutex;
    std::condition_variable cv;
    int unseenDone = 0;       // signalled done events not consumed yet
    int pendingMessages = 0;  // worker messages not shown yet

    void Ring(int& counter, int change) {
        {
            std::lock_guard lock(mutex);
            counter += change;
        }
        cv.notify_all();
    }
};

// An automatic-reset event: a wait that sees it signalled consumes the signal.
class DoneEvent {
public:
    explicit DoneEvent(Doorbell& doorbell) : doorbell_(doorbell) {}
    void Set() {
        Doorbell& doorbell = doorbell_;  // the job may be destroyed once the lock is released
        {
            std::lock_guard lock(doorbell.mutex);
            if (!signalled_) ++doorbell.unseenDone;
            signalled_ = true;
        }
        doorbell.cv.notify_all();
    }
    void Reset() {
        std::lock_guard lock(doorbell_.mutex);
        if (signalled_) --doorbell_.unseenDone;
        signalled_ = false;
    }
    // True when signalled within `timeout`. False on the time-out, or earlier when another job is done or
    // a message waits (the caller looks at the other jobs then, as after a time-out).
    bool WaitFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(doorbell_.mutex);
        doorbell_.cv.wait_for(lock, timeout,
                              [&] { return signalled_ || doorbell_.unseenDone > 0 || doorbell_.pendingMessages > 0; });
        if (!signalled_) return false;
        signalled_ = false;
        --doorbell_.unseenDone;
        return true;
    }

private:
    Doorbell& doorbell_;
    bool signalled_ = false;
};

int64_t FileSize(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? static_cast<int64_t>(status.st_size) : -1;
}

// CompressFile with the source's size before, for the report; the output's size comes from its writer.
bool CompressAndMeasure(Compressor& compressor, const imaging::Codec* format, FileOutcome& outcome) {
    outcome.bytesBefore = FileSize(outcome.sourcePath);
    return compressor.CompressFile(outcome.sourcePath, outcome.targetPath, format, &outcome);
}

// The box at the end of a batch that skipped files: each reason with its own count and text; one image in
// the singular.
std::string SkippedMessage(int noEnlarge, int notSmaller, int existing, int ownOutputs) {
    std::string text;
    const auto add = [&text](int count, int oneId, int manyId) {
        if (count <= 0) return;
        if (!text.empty()) text += "\n\n";
        text += count == 1 ? res::LoadString(oneId) : res::FormatString(manyId, count);
    };
    add(noEnlarge, res::IDS_SKIPPED_ONE, res::IDS_SKIPPED_REPORT);
    add(notSmaller, res::IDS_SKIPPED_NOT_SMALLER_ONE, res::IDS_SKIPPED_NOT_SMALLER_MANY);
    add(existing, res::IDS_SKIPPED_EXISTING_ONE, res::IDS_SKIPPED_EXISTING_MANY);
    add(ownOutputs, res::IDS_SKIPPED_OWN_OUTPUT_ONE, res::IDS_SKIPPED_OWN_OUTPUT_MANY);
    return text;
}

// A target an earlier run made: a regular file, not the source itself, and not older than the source (an
// output that took the source's date has the same time).
bool TargetIsCurrent(const std::string& sourcePath, const std::string& targetPath) {
    struct stat source {};
    struct stat target {};
    if (::stat(sourcePath.c_str(), &source) != 0 || ::stat(targetPath.c_str(), &target) != 0) return false;
    if (!S_ISREG(target.st_mode) || (source.st_dev == target.st_dev && source.st_ino == target.st_ino)) return false;
    return std::tie(target.st_mtim.tv_sec, target.st_mtim.tv_nsec) >=
           std::tie(source.st_mtim.tv_sec, source.st_mtim.tv_nsec);
}

FileOutcome StartedOutcome(const FileStart& file) {
    FileOutcome outcome;
    outcome.row = file.row;
    outcome.sourcePath = file.sourcePath;
    outcome.targetPath = file.targetPath;
    return outcome;
}

// One file handed to a worker thread.
struct CompressJob {
    explicit CompressJob(Doorbell& doorbell) : done(doorbell) {}
    Compressor* owner = nullptr;
    std::string sourcePath;
    std::string targetPath;
    const imaging::Codec* format = nullptr;  // the output type's row of the codec table, with its MIME type
    FileOutcome outcome;                     // filled by the worker, read by the calling thread after the done event
    DoneEvent done;
    std::thread thread;
};

int WorkerMain(CompressJob& job) {
    // The result is not needed: a failed file has been reported and does not stop the batch.
    CompressAndMeasure(*job.owner, job.format, job.outcome);
    job.done.Set();  // the calling thread may destroy the job from here on
    return 0;
}

// Messages of the workers, shown by the host on the thread that runs the batch while it waits; each
// worker goes on only after its message was answered. Messages of the calling thread go straight through.
class MessageRelay : public MessageBoxService {
public:
    MessageRelay(MessageBoxService& host, Doorbell& doorbell)
        : host_(host), doorbell_(doorbell), owner_(std::this_thread::get_id()) {}

    void ShowMessage(const std::string& text) override { ShowFailure(text, std::string()); }

    void ShowFailure(const std::string& text, const std::string& reason) override {
        if (std::this_thread::get_id() == owner_) {
            Show(text, reason);
            return;
        }
        Request request{text, reason};
        std::unique_lock lock(mutex_);
        pending_.push_back(&request);
        doorbell_.Ring(doorbell_.pendingMessages, +1);
        answered_.wait(lock, [&] { return request.answered; });
    }

    // On the calling thread: shows every message waiting, oldest first.
    void Drain() {
        for (;;) {
            Request* request = nullptr;
            {
                std::lock_guard lock(mutex_);
                if (pending_.empty()) return;
                request = pending_.front();
                pending_.pop_front();
            }
            doorbell_.Ring(doorbell_.pendingMessages, -1);
            struct Answer {
                MessageRelay& relay;
                Request& request;
                ~Answer() {
                    {
                        std::lock_guard lock(relay.mutex_);
                        request.answered = true;
                    }
                    relay.answered_.notify_all();
                }
            } answer{*this, *request};  // answered even if the host throws, so no worker waits forever
            Show(request->text, request->reason);
        }
    }

private:
    struct Request {
        std::string text;
        std::string reason;  // empty for a message that is no failure
        bool answered = false;
    };

    void Show(const std::string& text, const std::string& reason) {
        if (reason.empty())
            host_.ShowMessage(text);
        else
            host_.ShowFailure(text, reason);
    }
    MessageBoxService& host_;
    Doorbell& doorbell_;
    const std::thread::id owner_;
    std::mutex mutex_;
    std::condition_variable answered_;
    std::deque<Request*> pending_;
};

// What every file of one batch shares.
struct BatchPlan {
    const MainSettings& settings;
    ParameterSettings parameters;
    std::string extension;
    const imaging::Codec* saveFormat = nullptr;
    int32_t threadAnzahl = 0;
    AdvancedSettings options;
};

class BatchRun {
public:
    BatchRun(BatchHost& host, const RowSource& rows) : host_(host), rows_(rows), relay_(host, doorbell_) {}
    ~BatchRun();
    BatchResult Run();

private:
    void WaitForJobs(int32_t mostRemaining, int32_t progressTotal);
    void AddRowsNotDone(int firstRow, int rowCount);
    void KeepAlive(bool force);
    // Starts a worker for the file; a worker that cannot start fails the file at once.
    void StartJob(Compressor& compressor, const FileStart& file, const imaging::Codec* format);
    // A file that fails before any work: the save message for its target, with `reason`.
    void FailUnstarted(Compressor& compressor, const FileStart& file, const std::string& reason);
    // A file done at once, as skipped for `reasonId`: its target an earlier run made, or it is an output itself.
    void SkipAtOnce(const FileStart& file, int reasonId);
    // Which rows are outputs of this program, by their folders' ledgers.
    void FindOwnOutputs(int rowCount);
    // Row i's source and target; `outside` when its kept sub-folders would lead out of the target folder.
    FileStart PlanFile(const BatchPlan& plan, int i, bool& outside) const;
    void FileDone(const FileOutcome& outcome);
    bool TargetFolderReady(const MainSettings& settings);
    void ProtectSources(Compressor& compressor, int rowCount);
    // Starts (or, without workers, does) the files in list order; returns the first row none was started for.
    int StartFiles(Compressor& compressor, const BatchPlan& plan, int rowCount, bool& stopped);
    void Finish(Compressor& compressor, BatchResult& result);

    BatchHost& host_;
    const RowSource& rows_;
    Doorbell doorbell_;  // outlives the relay and every job
    MessageRelay relay_;
    std::optional<Compressor> compressor_;  // outlives every job that points to it
    std::vector<std::unique_ptr<CompressJob>> runningJobs_;
    std::chrono::steady_clock::time_point lastKeepAlive_{};
    std::vector<FileOutcome> done_;  // in the order the files were done
    // Stopped by the user: the bar stays at the files done out of the whole list instead of filling up.
    bool stopped_ = false;
    int skippedExisting_ = 0;
    int skippedOwnOutputs_ = 0;
    std::vector<bool> ownOutputs_;  // by row; empty unless they are looked for
};

BatchRun::~BatchRun() {
    // Only reached with jobs left when the host threw out of the batch: no worker may outlive its job.
    while (!runningJobs_.empty()) {
        try {
            relay_.Drain();
        } catch (...) {}
        for (size_t j = runningJobs_.size(); j-- > 0;) {
            if (!runningJobs_[j]->done.WaitFor(kPollWait)) continue;
            runningJobs_[j]->thread.join();
            runningJobs_.erase(runningJobs_.begin() + static_cast<std::ptrdiff_t>(j));
        }
    }
}

void BatchRun::KeepAlive(bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastKeepAlive_ < kPollWait) return;
    lastKeepAlive_ = now;
    host_.KeepAlive();
}

void BatchRun::WaitForJobs(int32_t mostRemaining, int32_t progressTotal) {
    for (;;) {
        relay_.Drain();
        const int32_t running = static_cast<int32_t>(runningJobs_.size());
        if (progressTotal != -1)
            host_.SetProgressPos(stopped_ ? static_cast<int32_t>(done_.size()) : progressTotal - running);
        if (running <= mostRemaining) return;
        KeepAlive(true);
        for (int32_t j = running - 1; j >= 0; --j) {
            relay_.Drain();
            KeepAlive(false);
            CompressJob& job = *runningJobs_[static_cast<size_t>(j)];
            if (!job.done.WaitFor(kPollWait)) continue;
            job.thread.join();  // returns at once: the worker touches nothing after its signal
            const FileOutcome outcome = std::move(job.outcome);
            runningJobs_.erase(runningJobs_.begin() + j);
            FileDone(outcome);
            // The throttle lets the next file start as soon as a place is free; the final wait (which
            // moves the progress bar) always finishes its pass.
            if (progressTotal == -1 && static_cast<int32_t>(runningJobs_.size()) <= mostRemaining) return;
        }
    }
}

void BatchRun::AddRowsNotDone(int firstRow, int rowCount) {
    for (int i = firstRow; i < rowCount; ++i) {
        FileOutcome outcome;
        outcome.row = i;
        outcome.sourcePath = rows_.RowPath(i);
        outcome.result = FileResult::NotDone;
        done_.push_back(std::move(outcome));
    }
}

void BatchRun::FileDone(const FileOutcome& outcome) {
    done_.push_back(outcome);
    host_.OnFileDone(outcome);
}

void BatchRun::StartJob(Compressor& compressor, const FileStart& file, const imaging::Codec* format) {
    auto job = std::make_unique<CompressJob>(doorbell_);
    job->owner = &compressor;
    job->sourcePath = file.sourcePath;
    job->targetPath = file.targetPath;
    job->format = format;
    job->outcome = StartedOutcome(file);
    job->done.Reset();
    CompressJob* raw = job.get();
    try {
        job->thread = StartThread([raw] { WorkerMain(*raw); });
    } catch (const std::system_error& e) {
        // No thread, so no output: the file fails as a save would (its source may be fine, so "not a valid
        // image" would be wrong), and the batch goes on as with any worker failure.
        const std::string error = e.code().message();
        FailUnstarted(compressor, file,
                      res::LoadString(res::IDS_REASON_NO_THREAD) + (error.empty() ? "" : ": " + error));
        return;
    }
    runningJobs_.push_back(std::move(job));
}

void BatchRun::FailUnstarted(Compressor& compressor, const FileStart& file, const std::string& reason) {
    ++compressor.FailedCount;
    FileOutcome outcome = StartedOutcome(file);
    outcome.bytesBefore = FileSize(file.sourcePath);
    outcome.message = res::FormatString(res::IDS_SAVE_FAILED, file.targetPath);
    outcome.reason = reason;
    relay_.ShowFailure(outcome.message, res::FormatString(res::IDS_REASON_LINE, outcome.reason));
    FileDone(outcome);
}

void BatchRun::SkipAtOnce(const FileStart& file, int reasonId) {
    ++(reasonId == res::IDS_SKIPPED_EXISTING ? skippedExisting_ : skippedOwnOutputs_);
    FileOutcome outcome = StartedOutcome(file);
    outcome.bytesBefore = FileSize(file.sourcePath);
    outcome.result = FileResult::Skipped;
    outcome.reason = res::LoadString(reasonId);
    FileDone(outcome);
}

void BatchRun::FindOwnOutputs(int rowCount) {
    OutputLedgers ledgers;
    ownOutputs_.resize(static_cast<size_t>(rowCount));
    for (int i = 0; i < rowCount; ++i) ownOutputs_[static_cast<size_t>(i)] = ledgers.IsListedOutput(rows_.RowPath(i));
}

FileStart BatchRun::PlanFile(const BatchPlan& plan, int i, bool& outside) const {
    const MainSettings& settings = plan.settings;
    const std::string sourcePath = rows_.RowPath(i);
    PathParts parts;
    SplitPath(parts, sourcePath);
    const std::string name = MakeOutputName(plan.parameters, settings.ZielPath, parts, i);
    std::string folder =
        settings.ZielPath == kTargetSourceFolder ? parts.drive + parts.directory : TargetFolderText(settings.Verz);
    outside = false;
    if (settings.ZielPath == kTargetVerz && plan.options.OrdnerstrukturBeibehalten != 0) {
        const std::string subfolder = rows_.RowSubfolder(i);
        const std::string kept = KeptTreeFolder(folder, subfolder);
        outside = kept.empty();
        folder = outside ? folder + subfolder : kept;
    }
    // Targets are not compared with each other: two rows may share one (equal titles). Every save
    // replaces its target whole, so the last one wins and no file is mixed.
    return FileStart{i, sourcePath, folder + name + plan.extension};
}

bool BatchRun::TargetFolderReady(const MainSettings& settings) {
    if (settings.ZielPath != kTargetVerz) return true;
    if (settings.Verz.empty()) {
        host_.ShowMessage(res::LoadString(res::IDS_TARGET_EMPTY));
        return false;
    }
    CreateDirectoryTree(settings.Verz);  // a folder that cannot be made shows as failed saves
    return true;
}

void BatchRun::ProtectSources(Compressor& compressor, int rowCount) {
    // No output may replace any file of the list, whatever name the output has.
    std::vector<FileIdentity> sources;
    sources.reserve(static_cast<size_t>(rowCount));
    for (int i = 0; i < rowCount; ++i) {
        // An earlier output among the rows is no source: this batch makes it anew.
        if (!ownOutputs_.empty() && ownOutputs_[static_cast<size_t>(i)]) continue;
        FileIdentity identity;
        if (GetFileIdentity(rows_.RowPath(i), identity)) sources.push_back(identity);
    }
    compressor.ProtectFiles(std::move(sources));
}

int BatchRun::StartFiles(Compressor& compressor, const BatchPlan& plan, int rowCount, bool& stopped) {
    for (int i = 0; i < rowCount; ++i) {
        if (host_.StopRequested()) {
            stopped = true;
            return i;
        }
        if (!ownOutputs_.empty() && ownOutputs_[static_cast<size_t>(i)]) {
            const FileStart output{i, rows_.RowPath(i), {}};
            host_.OnFileStarted(output);
            SkipAtOnce(output, res::IDS_SKIPPED_OWN_OUTPUT);
            host_.SetProgressPos(i + 1);
            continue;
        }
        bool outside = false;
        const FileStart file = PlanFile(plan, i, outside);
        if (outside ||
            (plan.options.VorhandeneUeberspringen != 0 && TargetIsCurrent(file.sourcePath, file.targetPath))) {
            host_.OnFileStarted(file);
            if (!outside) {
                SkipAtOnce(file, res::IDS_SKIPPED_EXISTING);
            } else {
                FailUnstarted(compressor, file, res::LoadString(res::IDS_REASON_OUTSIDE_TARGET));
                if (plan.threadAnzahl == 0) return i + 1;
            }
            host_.SetProgressPos(i + 1);
            continue;
        }
        if (plan.threadAnzahl != 0) {
            WaitForJobs(plan.threadAnzahl - 1, -1);
            // The wait for a free place may have taken long enough for the user to ask for a stop.
            if (host_.StopRequested()) {
                stopped = true;
                return i;
            }
            host_.OnFileStarted(file);
            StartJob(compressor, file, plan.saveFormat);
        } else {
            host_.OnFileStarted(file);
            FileOutcome outcome = StartedOutcome(file);
            const bool ok = CompressAndMeasure(compressor, plan.saveFormat, outcome);
            FileDone(outcome);
            if (!ok) return i + 1;
        }
        host_.SetProgressPos(i + 1);
    }
    return rowCount;
}

void BatchRun::Finish(Compressor& compressor, BatchResult& result) {
    host_.EnableCompressButton(true);
    result.SkippedCount = compressor.SkippedCount.load() + skippedExisting_ + skippedOwnOutputs_;
    result.Failed = compressor.FailedCount.load();
    result.Written = compressor.WrittenCount.load();
    result.Report.rows = std::move(done_);
    std::stable_sort(result.Report.rows.begin(), result.Report.rows.end(),
                     [](const FileOutcome& a, const FileOutcome& b) { return a.row < b.row; });
    if (result.SkippedCount != 0) {
        const int notSmaller = compressor.SkippedNotSmallerCount.load();
        host_.ShowMessage(SkippedMessage(compressor.SkippedCount.load() - notSmaller, notSmaller, skippedExisting_,
                                         skippedOwnOutputs_));
    }
    host_.EndWaitCursor();
}

BatchResult BatchRun::Run() {
    BatchResult result;
    if (!host_.ExchangeAndValidate()) return result;
    const MainSettings& settings = host_.GetMainSettings();
    MemoryBudget* budget = budgetOverride.load();
    const ImageMemoryReuse reuse;
    Compressor& compressor =
        compressor_.emplace(settings, relay_, budget != nullptr ? *budget : MemoryBudget::Process());
    host_.SetProgressPos(0);
    if (!TargetFolderReady(settings)) return result;

    const int rowCount = rows_.RowCount();
    if (rowCount <= 0) {
        host_.ShowMessage(res::LoadString(res::IDS_LIST_EMPTY));
        return result;
    }

    BatchPlan plan{settings, host_.ReadParameterSettings(), {}, nullptr, 0, host_.ReadAdvancedSettings()};
    compressor.SetOptions(plan.options);
    const OutputFormat* format = FindOutputFormat(plan.parameters.AusgabeTyp);
    plan.extension = format != nullptr ? format->extension : "";
    // No output type, or no naming rule: nothing to save with, so every file fails as a save naming the
    // path it would have had.
    plan.saveFormat = HasNamingRule(plan.parameters.AusgabeDateiTyp) ? format : nullptr;
    plan.threadAnzahl = EffectiveThreadAnzahl(plan.parameters.ThreadAnzahl);
    if (plan.options.EigeneAusgabenUeberspringen != 0) FindOwnOutputs(rowCount);
    ProtectSources(compressor, rowCount);

    result.Started = true;
    host_.EnableCompressButton(false);
    host_.BeginWaitCursor();
    host_.SetProgressRange(0, rowCount);
    const int notStarted = StartFiles(compressor, plan, rowCount, result.Stopped);

    const int32_t remaining = static_cast<int32_t>(runningJobs_.size());
    stopped_ = result.Stopped;
    if (!stopped_) host_.SetProgressRange(0, remaining);
    WaitForJobs(0, remaining);
    AddRowsNotDone(notStarted, rowCount);
    Finish(compressor, result);
    return result;
}

}  // namespace

BatchResult RunBatch(BatchHost& host, const RowSource& rows) { return BatchRun(host, rows).Run(); }

namespace testing {

void SetThreadStarter(ThreadStarter starter) {
    std::lock_guard lock(StarterMutex());
    Starter() = std::move(starter);
}

void SetBatchMemoryBudget(MemoryBudget* budget) { budgetOverride = budget; }

}  // namespace testing
}  // namespace qx
