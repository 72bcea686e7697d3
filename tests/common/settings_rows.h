#pragma once
// Settings files of a family edited row by row: each edit of "reglages" is
// accepted (names null) or refused with a message naming the setting.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <functional>
#include <string>
#include <vector>

#include "settings_file/settings_file.h"

namespace zuna::test {

struct FileRow {
    const char* what;
    std::function<void(QJsonObject&)> edit; // on "reglages"
    const char* names;                      // the setting the refusal names; null: accepted
};

inline void expect_file_rows(const settings::Family& family, const QJsonObject& root, const std::vector<FileRow>& rows)
{
    for (const FileRow& r : rows) {
        QJsonObject doc = root;
        QJsonObject values = doc.value("reglages").toObject();
        r.edit(values);
        doc.insert("reglages", values);
        std::string error;
        const auto s = settings::from_json(family, QJsonDocument(doc).toJson(), &error);
        EXPECT_EQ(bool(s), r.names == nullptr) << r.what << ": " << error;
        if (r.names) {
            EXPECT_NE(error.find(std::string("« ") + r.names + " »"), std::string::npos) << r.what << ": " << error;
        }
    }
}

} // namespace zuna::test
