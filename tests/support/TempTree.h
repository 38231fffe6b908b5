// A temporary folder tree, removed with everything in it at the end, and a recorder of search events.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "search/cSearchCore.h"

class TempTree {
public:
    TempTree() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "loomvale-search-XXXXXX").string();
        root_ = ::mkdtemp(tmpl.data());
    }
    ~TempTree() {
        std::error_code ec;
        std::filesystem::permissions(root_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(root_, ec);
        if (ec) {  // a tree past PATH_MAX: rm walks it by handle
            [[maybe_unused]] const int rc = std::system(("rm -rf -- '" + root_ + "'").c_str());
        }
    }
    const std::string& root() const { return root_; }
    std::string path(const std::string& rel) const { return root_ + "/" + rel; }
    void dir(const std::string& rel) const { std::filesystem::create_directories(path(rel)); }
    void file(const std::string& rel, const std::string& text = "x") const {
        std::filesystem::create_directories(std::filesystem::path(path(rel)).parent_path());
        std::ofstream(path(rel)) << text;
    }

private:
    std::string root_;
};

using Texts = std::vector<std::string>;

struct Recorder : search::ISearchEvents {
    Texts files;
    std::vector<int32_t> fileCounts;
    const int32_t* dirCount = nullptr;  // the object's own counter, still readable after the search
    int finished = 0;
    int idles = 0;
    int cancelAtIdle = 0;  // the Idle event that sets Cancel, 0 for none
    bool throwAtIdle = false;
    std::function<bool(const std::string&)> stopAt = [](const std::string&) { return false; };
    void Idle(search::VBBool& cancel) override {
        if (throwAtIdle) throw std::runtime_error("Idle");
        if (++idles == cancelAtIdle) cancel = search::kTrue;
    }
    void FileFound(std::string& name, int32_t& fileCount, int32_t& dirs, search::VBBool& cancel) override {
        files.push_back(name);
        fileCounts.push_back(fileCount);
        dirCount = &dirs;
        if (stopAt(name)) cancel = search::kTrue;
    }
    void SearchFinished() override { ++finished; }
};
