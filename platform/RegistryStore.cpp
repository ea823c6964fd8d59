#include "platform/RegistryStore.h"

#include "core/AsciiCase.h"
#include "platform/AtomicFile.h"
#include "platform/HiveFile.h"
#include "platform/Prefix.h"
#include "platform/WineRegistry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>

namespace fs = std::filesystem;

namespace platform {

namespace {

// What identifies one version of a file on disk.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t mtimeSec = 0;
    long mtimeNsec = 0;

    bool operator==(const FileStamp&) const = default;
};

FileStamp stampOf(const struct stat& st)
{
    return {st.st_dev, st.st_ino, st.st_size, std::int64_t(st.st_mtim.tv_sec), st.st_mtim.tv_nsec};
}

std::int64_t now()
{
    return std::int64_t(std::time(nullptr));
}

// Why path may not be written, as the C library words it; empty when it may. A file without
// any write permission counts as refused for the superuser too, as isWritable has it.
std::string unwritableReason(const fs::path& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || ::access(path.c_str(), W_OK) != 0)
        return std::strerror(errno);
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return std::strerror(EACCES);
    return {};
}

// Why a file that exists could not be read.
std::string unreadableReason(const fs::path& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::strerror(errno);
    ::close(fd);
    return path.filename().string() + " is not a file that can be read";
}

// Wine's text file of one root key.
class WineFileStore final : public RegistryStore {
public:
    WineFileStore(fs::path file, HKEY root) : file_(std::move(file)), root_(root) {}

    const fs::path& file() const override { return file_; }

    bool keyExists(const std::string& path) override { return load().keyExists(path); }

    std::optional<Value> findValue(const std::string& keyPath, std::string_view name) override
    {
        const WineRegValue* value = load().findValue(keyPath, name);
        if (!value)
            return std::nullopt;
        return Value{value->type, value->data};
    }

    LONG checkWritable() override
    {
        load();
        // Nothing is ever created on a Windows volume.
        if (Prefix::isWindowsVolume())
            return ERROR_ACCESS_DENIED;
        if (exists_ && (!readable_ || !registry_.recognized()))
            return ERROR_REGISTRY_CORRUPT;
        if (exists_ && !isWritable(file_))
            return ERROR_ACCESS_DENIED;
        return isWritable(file_.parent_path()) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    }

    LONG createKey(const std::string& path, bool& created) override
    {
        created = false;
        if (load().keyExists(path))
            return ERROR_SUCCESS;
        if (const LONG rc = checkWritable(); rc != ERROR_SUCCESS)
            return rc;
        registry_.createKey(path, now());
        created = true;
        return save();
    }

    LONG setValue(const std::string& keyPath, std::string_view name, const Value& value) override
    {
        if (const LONG rc = checkWritable(); rc != ERROR_SUCCESS)
            return rc;
        registry_.setValue(keyPath, WineRegValue{std::string(name), value.type, value.data}, now());
        registry_.touchKey(keyPath, now());
        return save();
    }

    LONG deleteValue(const std::string& keyPath, std::string_view name) override
    {
        if (const LONG rc = checkWritable(); rc != ERROR_SUCCESS)
            return rc;
        if (!registry_.deleteValue(keyPath, name))
            return ERROR_FILE_NOT_FOUND;
        registry_.touchKey(keyPath, now());
        return save();
    }

    void holdCommits(bool hold) override { hold_ = hold; }

    LONG commit() override
    {
        if (!pending_)
            return ERROR_SUCCESS;
        pending_ = false;
        return write();
    }

    void discard() override
    {
        if (pending_)
            loaded_ = false;
        pending_ = false;
    }

    std::string readFailure() override { return {}; }
    std::string writeRefusal() override { return {}; }

    std::string failureReason() override
    {
        if (!lastFailure_.empty())
            return std::exchange(lastFailure_, {});
        load();
        if (exists_ && !readable_)
            return unreadableReason(file_);
        if (exists_ && !registry_.recognized())
            return file_.filename().string() + " is not in Wine's registry format";
        if (exists_)
            if (std::string why = unwritableReason(file_); !why.empty())
                return why;
        return unwritableReason(file_.parent_path());
    }

private:
    // The registry as the file is now: read again when it changed since last time, unless
    // changes to it are held back.
    WineRegistry& load()
    {
        struct stat st {};
        const bool exists = ::stat(file_.c_str(), &st) == 0;
        if (loaded_ && (pending_ || (exists_ == exists && (!exists || stamp_ == stampOf(st)))))
            return registry_;
        registry_ = WineRegistry{};
        exists_ = exists;
        readable_ = true;
        stamp_ = {};
        if (exists) {
            stamp_ = stampOf(st);
            std::string bytes;
            readable_ = S_ISREG(st.st_mode) && readWholeFile(file_, bytes);
            if (readable_)
                registry_ = WineRegistry::parse(std::move(bytes));
        }
        registry_.setFreshPreamble(
            {root_ == HKEY_LOCAL_MACHINE ? ";; All keys relative to \\\\Machine"
                                         : ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000",
             "", "#arch=win32"});
        loaded_ = true;
        return registry_;
    }

    LONG save()
    {
        if (hold_) {
            pending_ = true;
            return ERROR_SUCCESS;
        }
        return write();
    }

    // Writes the registry back. On failure the copy in memory no longer matches the file and
    // is dropped, so that the next call reads the file again.
    LONG write()
    {
        if (!writeFileAtomically(file_, registry_.serialize())) {
            lastFailure_ = std::strerror(errno);
            loaded_ = false;
            return ERROR_ACCESS_DENIED;
        }
        struct stat st {};
        if (::stat(file_.c_str(), &st) == 0) {
            exists_ = true;
            stamp_ = stampOf(st);
        } else {
            loaded_ = false;
        }
        return ERROR_SUCCESS;
    }

    fs::path file_;
    HKEY root_;
    bool loaded_ = false;
    bool exists_ = false;
    bool readable_ = true; // false when the file exists but could not be read
    FileStamp stamp_;
    WineRegistry registry_;
    bool hold_ = false;
    bool pending_ = false;
    std::string lastFailure_; // why the last write failed, until it is asked for
};

// A SOFTWARE hive seen from HKEY_LOCAL_MACHINE.
class SoftwareHiveStore final : public RegistryStore {
public:
    explicit SoftwareHiveStore(fs::path file) : hive_(std::move(file)) {}

    const fs::path& file() const override { return hive_.file(); }

    bool keyExists(const std::string& path) override
    {
        const auto at = hivePathOf(path);
        return at && (at->machineRoot || hive_.keyExists(at->path));
    }

    std::optional<Value> findValue(const std::string& keyPath, std::string_view name) override
    {
        const auto at = hivePathOf(keyPath);
        if (!at || at->machineRoot)
            return std::nullopt;
        const auto value = hive_.findValue(at->path, name);
        if (!value)
            return std::nullopt;
        return Value{value->type, value->data};
    }

    LONG checkWritable() override
    {
        return hive_.writeRefusal().empty() ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    }

    LONG createKey(const std::string& path, bool& created) override
    {
        created = false;
        if (keyExists(path))
            return ERROR_SUCCESS;
        // Keys beside Software belong to other hives, which are not written.
        const auto at = hivePathOf(path);
        if (!at || checkWritable() != ERROR_SUCCESS || !hive_.createKey(at->path, &created))
            return ERROR_ACCESS_DENIED;
        return ERROR_SUCCESS;
    }

    LONG setValue(const std::string& keyPath, std::string_view name, const Value& value) override
    {
        const auto at = hivePathOf(keyPath);
        if (!at || at->machineRoot || checkWritable() != ERROR_SUCCESS)
            return ERROR_ACCESS_DENIED;
        if (value.data.size() > HiveFile::kMaxCellData) {
            lastFailure_ = "the value is longer than the " +
                           std::to_string(HiveFile::kMaxCellData) +
                           " bytes that this program can store in a Windows registry";
            return ERROR_ACCESS_DENIED;
        }
        errno = 0;
        return hive_.setValue(at->path, name, HiveValue{value.type, value.data})
                   ? ERROR_SUCCESS
                   : failed();
    }

    LONG deleteValue(const std::string& keyPath, std::string_view name) override
    {
        const auto at = hivePathOf(keyPath);
        if (!at || at->machineRoot || checkWritable() != ERROR_SUCCESS)
            return ERROR_ACCESS_DENIED;
        if (!hive_.findValue(at->path, name))
            return ERROR_FILE_NOT_FOUND;
        return hive_.deleteValue(at->path, name) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    }

    void holdCommits(bool hold) override { hive_.holdCommits(hold); }
    LONG commit() override
    {
        errno = 0;
        return hive_.writePending() ? ERROR_SUCCESS : failed();
    }
    void discard() override { hive_.discardPending(); }

    std::string readFailure() override
    {
        return hive_.readable() ? std::string() : HiveFile::kUnreadable;
    }
    std::string writeRefusal() override { return hive_.writeRefusal(); }
    std::string failureReason() override
    {
        if (!lastFailure_.empty())
            return std::exchange(lastFailure_, {});
        return hive_.writeRefusal();
    }

private:
    // Notes why a write of the hive failed.
    LONG failed()
    {
        if (errno != 0)
            lastFailure_ = std::strerror(errno);
        return ERROR_ACCESS_DENIED;
    }

    // A key of HKEY_LOCAL_MACHINE as the hive has it: the root, or a key below Software
    // (path then relative to the hive's root). Other keys are not in the hive.
    struct HivePath {
        bool machineRoot = false;
        std::string path;
    };

    static std::optional<HivePath> hivePathOf(const std::string& machinePath)
    {
        if (machinePath.empty())
            return HivePath{true, {}};
        const std::size_t separator = machinePath.find('\\');
        const std::string_view first = std::string_view(machinePath).substr(0, separator);
        if (!core::asciiEqualsIgnoreCase(first, "Software"))
            return std::nullopt;
        return HivePath{false, separator == std::string::npos ? std::string()
                                                              : machinePath.substr(separator + 1)};
    }

    HiveFile hive_;
    std::string lastFailure_; // why the last write failed, until it is asked for
};

} // namespace

std::unique_ptr<RegistryStore> RegistryStore::wineFile(fs::path file, HKEY root)
{
    return std::make_unique<WineFileStore>(std::move(file), root);
}

std::unique_ptr<RegistryStore> RegistryStore::softwareHive(fs::path file)
{
    return std::make_unique<SoftwareHiveStore>(std::move(file));
}

} // namespace platform
