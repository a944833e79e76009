#include "core/unpack/UnpackFiles.h"

#include "core/unpack/UnpackError.h"
#include "core/unpack/Utf8NameLocale.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace Core::Unpack {

namespace {

// Each thread holds a reader with its own copy of the central directory; more than this brings
// little on a desktop and only costs memory.
constexpr unsigned MaxThreads = 4;

// Hands out the plan's files in archive order, in batches: consecutive files of one folder go
// to one thread, because creating a file locks its folder, up to BatchBytes so that a large
// folder is still shared out. Readers thus only ever move forward, and a thread that draws
// large files simply takes fewer. Keeps the failure of the earliest file; after any failure no
// more batches are handed out.
class FileQueue {
public:
    struct Batch {
        std::size_t begin;
        std::size_t end;
    };

    explicit FileQueue(const std::vector<PlannedFile>& files) {
        std::int64_t bytes = 0;
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (i == 0 || bytes >= BatchBytes || folderOf(files[i]) != folderOf(files[i - 1])) {
                batches_.push_back({i, i});
                bytes = 0;
            }
            ++batches_.back().end;
            bytes += files[i].size;
        }
    }

    std::size_t batchCount() const { return batches_.size(); }

    std::optional<Batch> next() {
        const std::size_t index = next_.fetch_add(1);
        if (failed_.load() || index >= batches_.size()) {
            return std::nullopt;
        }
        return batches_[index];
    }

    void fail(std::size_t file, std::exception_ptr error) {
        const std::lock_guard lock(mutex_);
        if (file < failedFile_) {
            failedFile_ = file;
            failure_ = std::move(error);
        }
        failed_.store(true);
    }

    void rethrowFailure() const {
        if (failure_) {
            std::rethrow_exception(failure_);
        }
    }

private:
    static constexpr std::int64_t BatchBytes = 8 << 20;

    static std::string_view folderOf(const PlannedFile& file) {
        const std::size_t slash = file.path.rfind('/');
        return std::string_view(file.path).substr(0, slash == std::string::npos ? 0 : slash);
    }

    std::vector<Batch> batches_;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> failed_{false};
    std::mutex mutex_; // guards failedFile_ and failure_ while threads run
    std::size_t failedFile_ = std::numeric_limits<std::size_t>::max();
    std::exception_ptr failure_;
};

// One reader moving forward through the archive's entries.
class EntryCursor {
public:
    explicit EntryCursor(const fs::path& zip) : zip_(zip), reader_(openZip(zip)) {}

    // The header of the entry at that position; positions must not go back.
    archive_entry* advanceTo(std::size_t position) {
        archive_entry* header = nullptr;
        while (next_ <= position) {
            if (archive_read_next_header(reader_.get(), &header) != ARCHIVE_OK) {
                failReading(zip_, libraryError(reader_.get()));
            }
            ++next_;
        }
        return header;
    }

    archive* reader() const { return reader_.get(); }

private:
    const fs::path& zip_;
    Unpack::Archive::Reader reader_;
    std::size_t next_ = 0;
};

void writeAt(int fd, const void* block, std::size_t size, la_int64_t offset,
             const std::string& name) {
    const char* bytes = static_cast<const char*>(block);
    while (size > 0) {
        const ssize_t written = ::pwrite(fd, bytes, size, offset);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            failSystem(name, "write the file", errno);
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
        offset += written;
    }
}

struct Job {
    const fs::path& zip;
    const UnpackPlan& plan;
    const DestinationFolder& destination;
    mode_t umask;
    bool replacing;
};

void writeFile(const Job& job, EntryCursor& cursor, TreeWriter& tree, const PlannedFile& file) {
    archive_entry* header = cursor.advanceTo(file.entry);
    const char* name = archive_entry_pathname(header);
    // Paths come from the plan, never from this reader; a different name here means the file
    // was replaced since the plan read it.
    if (name == nullptr || file.recordedName() != name) {
        failReading(job.zip, "it changed while being unpacked");
    }
    TreeWriter::NewFile out = tree.createFile(file.path);
    try {
        readData(cursor.reader(), file.recordedName(),
                 [&](const void* block, std::size_t size, la_int64_t offset) {
                     // An entry that inflates past its declared size would fill the disk beyond
                     // the space checked before unpacking: stop before writing the excess.
                     if (offset < 0 || offset + static_cast<la_int64_t>(size) > file.size) {
                         fail(shownName(file.recordedName()) + " holds more data than it declares");
                     }
                     writeAt(out.fd.get(), block, size, offset, file.recordedName());
                 });
        // The final mode before the file takes its name: never a moment with the wrong one.
        if (::fchmod(out.fd.get(), file.mode & ~job.umask) != 0) {
            failSystem(file.recordedName(), "set the file's mode", errno);
        }
        if (::close(out.fd.release()) != 0) {
            failSystem(file.recordedName(), "write the file", errno);
        }
    } catch (...) {
        tree.discardFile(file.path, out);
        throw;
    }
    tree.placeFile(file.path, out);
}

void writeQueuedFiles(const Job& job, FileQueue& queue) {
    std::size_t current = 0;
    try {
        // The locale is per thread: names convert to UTF-8 here too.
        const Utf8NameLocale utf8Names;
        std::optional<EntryCursor> cursor;
        TreeWriter tree(job.destination, job.replacing);
        while (const std::optional<FileQueue::Batch> batch = queue.next()) {
            if (!cursor) {
                cursor.emplace(job.zip);
            }
            for (current = batch->begin; current < batch->end; ++current) {
                writeFile(job, *cursor, tree, job.plan.files[current]);
            }
        }
    } catch (...) {
        queue.fail(current, std::current_exception());
    }
}

unsigned threadCount(std::size_t batches) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t useful = std::max<std::size_t>(1, batches);
    return static_cast<unsigned>(std::min<std::size_t>({cores, MaxThreads, useful}));
}

} // namespace

void writeFiles(const fs::path& zip, const UnpackPlan& plan, const DestinationFolder& destination,
                mode_t umask, bool replacing) {
    const Job job{zip, plan, destination, umask, replacing};
    FileQueue queue(plan.files);
    {
        std::vector<std::jthread> helpers;
        const unsigned threads = threadCount(queue.batchCount());
        for (unsigned i = 1; i < threads; ++i) {
            helpers.emplace_back([&job, &queue] { writeQueuedFiles(job, queue); });
        }
        writeQueuedFiles(job, queue);
    } // joins the helpers
    queue.rethrowFailure();
}

} // namespace Core::Unpack
