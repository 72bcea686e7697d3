#pragma once
// The two model operations every programmer window calls.
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>

#include "store/model_library.h"

namespace zuna {
class Shell;
}

namespace zuna::store {

// Sets the family's filter ("type = 'C120'"), shows the family's browser
// (Tm_c120, Tfichier or TM_g13_6000) modally and returns the chosen record
// when the operator pressed OK on a record; nullopt otherwise (Abort, empty
// set, no table).
std::optional<ModelRecord> choose_model(Shell& shell, QWidget* parent, const std::string& type_code);

// Appends the record to the library; on refusal shows the French message
// over parent and returns false (nothing written).
bool store_model(Shell& shell, QWidget* parent, const ModelRecord& record);

// The coin name in upper case, as the C120 and C220B windows type it. A
// letter keeps its case when its capital is not one character the model
// table's code page has (ÿ in cp850, µ, ß), so the name can be stored.
QString upper_name(const Shell& shell, const QString& text);

// Where choose_model and store_model show their messages (a warning box by
// default); tests replace it. An empty function restores the default.
void set_model_message_handler(std::function<void(QWidget*, const QString&)> handler);

// The browser a type code is shown in: "Tm_c120", "Tfichier" or "TM_g13_6000".
const char* browser_for(const std::string& type_code);

} // namespace zuna::store
