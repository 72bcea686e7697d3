#pragma once
// sigrok-cli, a UART decoder nobody here wrote, run over a VCD trace.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <vector>

namespace zuna::test {

inline bool have_sigrok() { return !QStandardPaths::findExecutable("sigrok-cli").isEmpty(); }

// The bytes of one annotation ("rx-data", "tx-data") of a UART decoder
// ("uart:rx=D0:baudrate=14706"), in hexadecimal output.
inline std::vector<int> sigrok_bytes(const QString& vcd, const QString& decoder, const QString& annotation)
{
    QProcess p;
    p.start("sigrok-cli", {"-I", "vcd", "-i", vcd, "-P", decoder, "-A", "uart=" + annotation});
    EXPECT_TRUE(p.waitForFinished(120000));
    std::vector<int> bytes;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> parts = line.trimmed().split(' ');
        bool ok = false;
        const int b = parts.size() == 2 ? parts[1].toInt(&ok, 16) : -1;
        if (ok)
            bytes.push_back(b);
    }
    return bytes;
}

} // namespace zuna::test
