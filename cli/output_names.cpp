#include "cli/output_names.h"

#include "platform/printable_name.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <utility>
#include <vector>

namespace morvel::cli {

namespace {

// What a name leads to: an existing file, by device and inode, or a file
// still to be made, by the real path of its directory and its own name.
struct FileIdentity {
    bool exists = false;
    bool regular = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string futurePath;

    bool sameFileAs(const FileIdentity& other) const
    {
        if (exists != other.exists)
            return false;
        return exists ? device == other.device && inode == other.inode : futurePath == other.futurePath;
    }
};

FileIdentity identityOf(const struct stat& status)
{
    FileIdentity identity;
    identity.exists = true;
    identity.regular = S_ISREG(status.st_mode);
    identity.device = status.st_dev;
    identity.inode = status.st_ino;
    return identity;
}

// The identity of `name`, standard output or input for "-" as `stdinOrOut`
// tells. None when nothing can be said (a directory that does not exist).
std::optional<FileIdentity> identify(const std::string& name, int standardDescriptor)
{
    struct stat status {};
    if (name == kStdinName)
        return ::fstat(standardDescriptor, &status) == 0 ? std::optional(identityOf(status)) : std::nullopt;
    if (::stat(name.c_str(), &status) == 0)
        return identityOf(status);
    const size_t slash = name.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
    char real[PATH_MAX];
    if (::realpath(dir.c_str(), real) == nullptr)
        return std::nullopt;
    FileIdentity identity;
    identity.regular = true;  // a new file is made regular
    identity.futurePath = std::string(real) + "/" + name.substr(slash == std::string::npos ? 0 : slash + 1);
    return identity;
}

}  // namespace

std::optional<std::string> outputConflict(const Options& o)
{
    std::vector<FileIdentity> inputs;
    for (const std::string& picture : o.pictures) {
        const auto identity = identify(picture, STDIN_FILENO);
        if (identity && identity->exists && identity->regular)
            inputs.push_back(*identity);
    }
    std::vector<std::string> outputs;
    outputs.push_back(o.output.empty() ? std::string(kStdinName) : o.output);
    if (!o.saveGray.empty()) {
        for (size_t i = 0; i < o.pictures.size(); ++i) {
            const std::string name = expandIndex(o.saveGray, static_cast<int>(i) + 1);
            if (i == 0 || name != outputs.back())
                outputs.push_back(name);
        }
    }
    std::vector<FileIdentity> written;
    for (const std::string& name : outputs) {
        const auto identity = identify(name, STDOUT_FILENO);
        if (!identity)
            continue;
        for (const FileIdentity& input : inputs) {
            if (identity->sameFileAs(input))
                return "output " + printableName(name) + " is also an input picture";
        }
        // Devices, pipes and terminals may take several outputs.
        if (!identity->regular)
            continue;
        for (const FileIdentity& earlier : written) {
            if (identity->sameFileAs(earlier))
                return printableName(name) + " is named twice as an output";
        }
        written.push_back(*identity);
    }
    return std::nullopt;
}

}  // namespace morvel::cli
