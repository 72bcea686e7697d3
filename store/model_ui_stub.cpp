// Stand-in until the browsers land: no browser is shown, the first record of
// the family is taken.
#include <QMessageBox>

#include "app/shell.h"
#include "store/model_ui.h"

namespace zuna::store {

std::optional<ModelRecord> choose_model(Shell& shell, QWidget*, const std::string& type_code)
{
    if (!shell.models || !shell.models->set_filter(family_filter(type_code), nullptr) || !shell.models->first())
        return std::nullopt;
    return shell.models->current();
}

bool store_model(Shell& shell, QWidget* parent, const ModelRecord& record)
{
    std::string error = "La table des modèles n'est pas ouverte.";
    if (shell.models && shell.models->append(record, &error))
        return true;
    QMessageBox::warning(parent, "ZUNA 07", QString::fromStdString(error));
    return false;
}

} // namespace zuna::store
