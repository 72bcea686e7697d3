#include "store/tables.h"

#include <QFile>

#include "ui/shell.h"
#include "store/frequency_table.h"
#include "store/model_table.h"

namespace zuna::store {

namespace {
class DbfTables : public Tables {
public:
    std::unique_ptr<ModelTable> models;
    std::unique_ptr<FrequencyTable> frequencies;
};
} // namespace

std::unique_ptr<Tables> open_tables(Shell& shell, const QString& data_dir, QStringList* messages)
{
    auto t = std::make_unique<DbfTables>();
    const std::string dir = QFile::encodeName(data_dir).toStdString();
    const auto report = [&](const std::string& text) {
        if (messages && !text.empty())
            *messages << QString::fromStdString(text);
    };

    std::string error, notice;
    t->models = open_model_table(dir, &error, &notice);
    if (!t->models)
        report(error + " Les modèles ne seront pas disponibles pendant cette session.");
    report(notice);

    error.clear();
    notice.clear();
    t->frequencies = open_frequency_table(dir, &error, &notice);
    if (!t->frequencies)
        report(error + " Les fréquences ne pourront être ni enregistrées ni relues pendant cette session.");
    report(notice);

    shell.models = t->models.get();
    shell.frequencies = t->frequencies.get();
    return t;
}

} // namespace zuna::store
