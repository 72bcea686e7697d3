#include "store/model_ui.h"

#include <QMessageBox>
#include <memory>

#include "ui/shell.h"
#include "store/browsers.h"

namespace zuna::store {

namespace {

std::function<void(QWidget*, const QString&)>& message_handler()
{
    static std::function<void(QWidget*, const QString&)> handler;
    return handler;
}

void tell(QWidget* parent, const QString& text)
{
    if (message_handler())
        message_handler()(parent, text);
    else
        QMessageBox::warning(parent, "ZUNA 07", text);
}

const QString kNoTable = "La table des modèles (mall7.dbf) n'est pas ouverte : les modèles ne sont pas disponibles.";

template <class T> int show_browser(Shell& shell, QWidget* parent)
{
    if (T* shared = shell.dialog<T>())
        return shared->exec();
    // Not created at start-up (a window tested alone): a browser for this call only.
    T browser(shell, parent);
    return browser.exec();
}

} // namespace

void set_model_message_handler(std::function<void(QWidget*, const QString&)> handler)
{
    message_handler() = std::move(handler);
}

const char* browser_for(const std::string& type_code)
{
    if (type_code == "rm4" || type_code == "NRI1")
        return "Tfichier";
    if (type_code == "NRI2" || type_code == "ALB3")
        return "TM_g13_6000";
    return "Tm_c120"; // C120, C22B, RM3, C220
}

std::optional<ModelRecord> choose_model(Shell& shell, QWidget* parent, const std::string& type_code)
{
    if (!shell.models) {
        tell(parent, kNoTable);
        return std::nullopt;
    }
    std::string error;
    // Models stored meanwhile by another station on the same folder.
    if (!shell.models->refresh(&error))
        tell(parent, QString::fromStdString(error));
    if (!shell.models->set_filter(family_filter(type_code), &error)) {
        tell(parent, QString::fromStdString(error));
        return std::nullopt;
    }
    const std::string which = browser_for(type_code);
    int result = 0;
    if (which == "Tfichier")
        result = show_browser<Tfichier>(shell, parent);
    else if (which == "TM_g13_6000")
        result = show_browser<TM_g13_6000>(shell, parent);
    else
        result = show_browser<Tm_c120>(shell, parent);
    if (result != QDialog::Accepted)
        return std::nullopt;
    if (!shell.models->has_current()) {
        // OK on an empty list: nothing was chosen, the mechanism stays as it is.
        tell(parent, "Aucun modèle n'a été choisi : il n'y a pas de modèle enregistré pour ce monnayeur.");
        return std::nullopt;
    }
    return shell.models->current();
}

QString upper_name(const Shell& shell, const QString& text)
{
    QString out;
    for (const char32_t c : text.toUcs4()) {
        const QString one = QString::fromUcs4(&c, 1);
        const QString up = one.toUpper();
        const bool single = up.toUcs4().size() == 1;
        const bool storable = !shell.models || shell.models->can_store_text(up.toStdString());
        out += single && storable ? up : one;
    }
    return out;
}

bool store_model(Shell& shell, QWidget* parent, const ModelRecord& record)
{
    if (!shell.models) {
        tell(parent, kNoTable);
        return false;
    }
    std::string error;
    if (shell.models->append(record, &error))
        return true;
    tell(parent, QString::fromStdString(error));
    return false;
}

} // namespace zuna::store
