#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>

namespace {
struct Result {
    int code;
    std::string out;
};

Result run(const std::string& args)
{
    const std::string cmd = "QT_QPA_PLATFORM=offscreen timeout 20 " ZUNA_BINARY_DIR "/zuna07 " + args + " 2>&1";
    Result r{-1, {}};
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            r.out.append(buf, n);
        const int status = pclose(p);
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return r;
}
} // namespace

TEST(CommandLine, HelpUnknownOptionsAndMissingPorts)
{
    struct Case { std::string args; int code; const char* words; } cases[] = {
        {"--help", 0, "--simulate"},
        {"--bogus", 2, "Option inconnue"},
        {"--simulate=xyz", 2, "Famille de monnayeur inconnue"},
        {"--port /dev/zuna-no-such-port", 1, "Impossible d'ouvrir le port /dev/zuna-no-such-port"},
        {"--port /dev/zuna-no-such-port", 1, "zuna07 --check-port /dev/zuna-no-such-port"},
        {"--port io:junk", 1, "Adresse de port invalide"},
        {"--check-port /dev/zuna-no-such-port", 1, "ÉCHEC     Impossible d'ouvrir le port /dev/zuna-no-such-port"},
        {"--simulate --trace /nonexistent-dir/t.vcd --data-dir /tmp/zuna-cli-test", 1, "Impossible de créer la trace"},
    };
    for (const auto& c : cases) {
        const Result r = run(c.args);
        EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.words), std::string::npos) << c.args << "\n" << r.out;
    }
}

TEST(CommandLine, TermSignalEndsTheProgramCleanly)
{
    // An idle station on the paced bench, ended as a desktop session ends it.
    const std::string cmd = "QT_QPA_PLATFORM=offscreen timeout -s KILL 20 sh -c '" ZUNA_BINARY_DIR
                            "/zuna07 --simulate --sim-pace=real --data-dir /tmp/zuna-cli-term & "
                            "p=$!; sleep 1; kill -TERM $p; wait $p'";
    const int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
