#pragma once
// Helpers of the table tests: a scratch folder, file bytes, and the peers
// (python3-dbf through /usr/bin/python3, dbview).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace zuna::store::testing {

class ScratchDir {
public:
    // base: where to make it (default: the system's temporary folder).
    explicit ScratchDir(const std::filesystem::path& base = std::filesystem::temp_directory_path())
    {
        std::string tmpl = (base / "zuna_store_XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data());
    }
    ~ScratchDir()
    {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline std::string read_bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void write_bytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

// Runs a command and returns its standard output; *status gets the exit code.
inline std::string run(const std::string& command, int* status = nullptr)
{
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) {
        if (status)
            *status = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    const int rc = ::pclose(p);
    if (status)
        *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

inline bool python_dbf_present()
{
    static const bool present =
        std::filesystem::exists("/usr/bin/python3") &&
        std::system("/usr/bin/python3 -c 'import dbf' >/dev/null 2>&1") == 0;
    return present;
}

inline bool dbview_present()
{
    static const bool present = std::system("command -v dbview >/dev/null 2>&1") == 0;
    return present;
}

// Runs a python script (with python3-dbf) in dir; returns its output.
inline std::string python(const ScratchDir& dir, const std::string& script, int* status = nullptr)
{
    const std::string file = dir.file("peer.py");
    write_bytes(file, script);
    return run("cd '" + dir.path() + "' && /usr/bin/python3 '" + file + "' 2>&1", status);
}

} // namespace zuna::store::testing
