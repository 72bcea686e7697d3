#pragma once
// What a shell command prints on its standard output (peer tools: sigrok-cli,
// pdftotext, rsvg-convert...).
#include <cstdio>
#include <string>

namespace zuna::test {

inline std::string shell_output(const std::string& cmd)
{
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        pclose(p);
    }
    return out;
}

} // namespace zuna::test
