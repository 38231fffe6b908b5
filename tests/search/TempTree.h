// A temporary folder tree, removed with everything in it at the end.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

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
    void file(const std::string& rel) const {
        std::filesystem::create_directories(std::filesystem::path(path(rel)).parent_path());
        std::ofstream(path(rel)) << "x";
    }

private:
    std::string root_;
};
