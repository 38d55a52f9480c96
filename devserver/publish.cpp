#include "publish.h"

#include <boost/filesystem.hpp>
#include <ctime>
#include <fstream>
#include <stdexcept>

#include "export.h"

namespace fs = boost::filesystem;

namespace zavr::devserver {
namespace {

// A name for the new tree that says when it was published, unique under trees.
fs::path NewTree(const fs::path& trees) {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H-%M-%SZ", &utc);
    fs::path tree = trees / stamp;
    for (int n = 2; fs::exists(fs::symlink_status(tree)); ++n)
        tree = trees / (std::string(stamp) + "-" + std::to_string(n));
    return tree;
}

// Where the link at path leads (relative to out), or empty when there is none. Throws when something
// other than a link stands there.
std::string LinkTarget(const fs::path& path) {
    const fs::file_status status = fs::symlink_status(path);
    if (!fs::exists(status)) return std::string();
    if (!fs::is_symlink(status))
        throw std::runtime_error(path.string() +
                                 " is not a link, so I cannot switch it to a new tree. Move it "
                                 "away and publish again.");
    return fs::read_symlink(path).string();
}

// Points the link at path to target in one step a web server cannot see half of: a new link is
// renamed over it.
void PointLink(const fs::path& path, const std::string& target) {
    const fs::path fresh = path.string() + ".new";
    boost::system::error_code ignored;
    fs::remove(fresh, ignored);
    fs::create_symlink(target, fresh);
    fs::rename(fresh, path);
}

void WriteReplacing(const fs::path& path, const std::string& text) {
    const fs::path fresh = path.string() + ".new";
    {
        std::ofstream file(fresh.string(), std::ios::binary | std::ios::trunc);
        file << text;
        file.close();
        if (!file) throw std::runtime_error("I could not write " + fresh.string() + ".");
    }
    fs::rename(fresh, path);
}

}  // namespace

Publication PublishRelease(Release& release, const std::string& out, const SigningKey* key) {
    const fs::path root = fs::absolute(out);
    const std::string live = LinkTarget(root / "live");
    LinkTarget(root / "previous");  // a folder there would stop the switch half way: refused first
    const fs::path tree = NewTree(root / "trees");
    Publication publication{tree.string(), 0, {}};
    try {
        publication.files = ExportRelease(release, tree.string(), key, &publication.warnings);
        WriteReplacing(root / "zavr-locations.conf", NginxLocations((root / "live").string()));
        PointLink(root / "live", fs::relative(tree, root).string());
    } catch (...) {
        boost::system::error_code ignored;
        fs::remove_all(tree, ignored);  // made above, never live: ours alone
        throw;
    }
    std::string previous = LinkTarget(root / "previous");
    if (!live.empty()) {
        PointLink(root / "previous", live);
        previous = live;
    }
    // Only the live tree and the one before it stay.
    const fs::path kept = previous.empty() ? fs::path() : (root / previous).lexically_normal();
    for (const auto& entry : fs::directory_iterator(root / "trees"))
        if (entry.path() != tree && entry.path() != kept) fs::remove_all(entry.path());
    return publication;
}

std::string SwitchBack(const std::string& out) {
    const fs::path root = fs::absolute(out);
    const std::string live = LinkTarget(root / "live");
    const std::string previous = LinkTarget(root / "previous");
    if (previous.empty() || live.empty())
        throw std::runtime_error(root.string() + " has no previous tree to switch back to.");
    PointLink(root / "live", previous);
    PointLink(root / "previous", live);
    return (root / previous).lexically_normal().string();
}

}  // namespace zavr::devserver
