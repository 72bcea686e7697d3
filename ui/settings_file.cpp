#include "ui/settings_file.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStringList>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "link/sys_text.h"

namespace zuna::settings {

namespace {

constexpr qint64 kLargestFile = 4 << 20; // far above any mechanism's settings

QString q(const std::string& s) { return QString::fromStdString(s); }

// The cause of a failed file operation in French (errno as the call left it).
QString cause(int err, const QFileDevice& f)
{
    return err != 0 ? QString::fromStdString(french_error(err)) : f.errorString();
}

// "Canal 3/Mesure 1/min" = 12 goes to {"Canal 3": {"Mesure 1": {"min": 12}}}.
void put(QJsonObject& root, const QStringList& path, int value)
{
    if (path.size() == 1) {
        root.insert(path[0], value);
        return;
    }
    QJsonObject child = root.value(path[0]).toObject();
    put(child, path.mid(1), value);
    root.insert(path[0], child);
}

bool walk(const QJsonObject& o, const QString& prefix, std::map<std::string, int>& out, std::string* error)
{
    for (auto it = o.begin(); it != o.end(); ++it) {
        const QString name = prefix.isEmpty() ? it.key() : prefix + "/" + it.key();
        if (it.value().isObject()) {
            if (!walk(it.value().toObject(), name, out, error))
                return false;
            continue;
        }
        const double d = it.value().toDouble(std::nan(""));
        if (!it.value().isDouble() || !std::isfinite(d) || d != std::floor(d) || std::fabs(d) > 1e9) {
            *error = "Le réglage « " + name.toStdString() + " » n'est pas un nombre entier.";
            return false;
        }
        out[name.toStdString()] = static_cast<int>(d);
    }
    return true;
}

int hex_digit(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

} // namespace

QByteArray to_json(const Family& f, const Snapshot& s)
{
    QJsonObject root;
    root.insert("format", s.format);
    root.insert("famille", q(s.family));
    root.insert("monnayeur", q(f.title()));
    root.insert("date", q(s.date));
    root.insert("temporisation", static_cast<int>(s.delay));
    QJsonObject identity;
    for (const auto& [name, value] : s.identity)
        identity.insert(q(name), q(value));
    if (!identity.isEmpty())
        root.insert("identite", identity);
    QJsonObject values;
    for (const Setting& setting : f.all_settings()) {
        const auto it = s.values.find(setting.name);
        if (it != s.values.end())
            put(values, q(setting.name).split('/'), it->second);
    }
    root.insert("reglages", values);
    if (!s.image.empty()) {
        QString hex;
        for (size_t i = 0; i < s.image.size(); ++i)
            hex += QString::asprintf(i == 0 ? "%02X" : " %02X", s.image[i]);
        root.insert("image", hex);
    }
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::string family_of(const QByteArray& json)
{
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    return doc.isObject() ? doc.object().value("famille").toString().toStdString() : std::string();
}

std::optional<Snapshot> from_json(const Family& f, const QByteArray& json, std::string* error)
{
    std::string dummy;
    std::string* e = error ? error : &dummy;
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &pe);
    if (pe.error != QJsonParseError::NoError) {
        *e = "Le fichier n'est pas un JSON valide (position " + std::to_string(pe.offset) + ").";
        return std::nullopt;
    }
    if (!doc.isObject()) {
        *e = "Le fichier n'est pas un fichier de réglages.";
        return std::nullopt;
    }
    const QJsonObject root = doc.object();
    static const QStringList known = {"format", "famille", "monnayeur", "date", "temporisation",
                                      "identite", "reglages", "image"};
    for (const QString& key : root.keys())
        if (!known.contains(key)) {
            *e = "Clé inconnue « " + key.toStdString() + " » dans le fichier.";
            return std::nullopt;
        }
    Snapshot s;
    const QJsonValue format = root.value("format");
    if (!format.isDouble() || format.toDouble() != std::floor(format.toDouble()) || std::fabs(format.toDouble()) > 1e6) {
        *e = "Le fichier n'indique pas son format.";
        return std::nullopt;
    }
    s.format = format.toInt();
    if (!root.value("famille").isString()) {
        *e = "Le fichier n'indique pas sa famille de monnayeur.";
        return std::nullopt;
    }
    s.family = root.value("famille").toString().toStdString();
    s.date = root.value("date").toString().toStdString();
    const QJsonValue delay = root.value("temporisation");
    if (!delay.isUndefined() && (!delay.isDouble() || std::fabs(delay.toDouble()) > 1e9)) {
        *e = "La temporisation du fichier n'est pas un nombre.";
        return std::nullopt;
    }
    s.delay = delay.toInt();
    const QJsonValue identity = root.value("identite");
    if (!identity.isUndefined()) {
        if (!identity.isObject()) {
            *e = "L'identité du fichier n'est pas une liste de textes.";
            return std::nullopt;
        }
        const QJsonObject id = identity.toObject();
        for (auto it = id.begin(); it != id.end(); ++it) {
            if (!it.value().isString()) {
                *e = "L'identité « " + it.key().toStdString() + " » n'est pas un texte.";
                return std::nullopt;
            }
            s.identity.push_back({it.key().toStdString(), it.value().toString().toStdString()});
        }
    }
    if (!root.value("reglages").isObject()) {
        *e = "Le fichier ne contient pas de réglages.";
        return std::nullopt;
    }
    if (!walk(root.value("reglages").toObject(), QString(), s.values, e))
        return std::nullopt;
    const QJsonValue image = root.value("image");
    if (!image.isUndefined()) {
        if (!image.isString()) {
            *e = "L'image mémoire du fichier n'est pas un texte hexadécimal.";
            return std::nullopt;
        }
        const QString hex = image.toString();
        int high = -1;
        for (QChar c : hex) {
            if (c.isSpace())
                continue;
            const int d = hex_digit(c);
            if (d < 0) {
                *e = "L'image mémoire du fichier contient « " + QString(c).toStdString() + " », qui n'est pas hexadécimal.";
                return std::nullopt;
            }
            if (high < 0) {
                high = d;
            } else {
                s.image.push_back(static_cast<uint8_t>(high * 16 + d));
                high = -1;
            }
        }
        if (high >= 0) {
            *e = "L'image mémoire du fichier a un nombre impair de chiffres.";
            return std::nullopt;
        }
    }
    const std::string fault = check(f, s);
    if (!fault.empty()) {
        *e = fault;
        return std::nullopt;
    }
    return s;
}

bool save_file(const QString& path, const Family& f, const Snapshot& s, QString* error)
{
    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly)) {
        const int err = errno;
        if (error)
            *error = "Impossible d'écrire " + path + " : " + cause(err, file);
        return false;
    }
    errno = 0;
    file.write(to_json(f, s));
    if (!file.commit()) {
        const int err = errno;
        if (error)
            *error = "Impossible d'écrire " + path + " : " + cause(err, file) + "\nL'ancien fichier est conservé.";
        return false;
    }
    return true;
}

std::optional<Snapshot> load_file(const QString& path, const Family& f, QString* error)
{
    QFile file(path);
    errno = 0;
    if (!file.open(QIODevice::ReadOnly)) {
        const int err = errno;
        if (error)
            *error = "Impossible de lire " + path + " : " + cause(err, file);
        return std::nullopt;
    }
    if (file.size() > kLargestFile) {
        if (error)
            *error = path + " est trop grand pour un fichier de réglages.";
        return std::nullopt;
    }
    std::string e;
    std::optional<Snapshot> s = from_json(f, file.readAll(), &e);
    if (!s && error)
        *error = QFileInfo(path).fileName() + " : " + q(e);
    return s;
}

QString log_path(const QString& settings_path)
{
    QString base = settings_path;
    if (base.endsWith(kSuffix))
        base.chop(int(strlen(kSuffix)));
    return base + ".csv";
}

bool append_log(const QString& settings_path, const std::string& family, const Outcome& o, QString* error)
{
    QFile file(log_path(settings_path));
    const bool fresh = !file.exists() || file.size() == 0;
    errno = 0;
    if (!file.open(QIODevice::Append | QIODevice::Text)) {
        const int err = errno;
        if (error)
            *error = "Impossible d'écrire le journal " + file.fileName() + " : " + cause(err, file);
        return false;
    }
    const QDateTime now = QDateTime::currentDateTime();
    QByteArray text;
    if (fresh)
        text += QByteArray::fromStdString(log_header()) + "\n";
    text += QByteArray::fromStdString(log_line(now.toString("yyyy-MM-dd").toStdString(),
                                               now.toString("HH:mm:ss").toStdString(), family, o)) + "\n";
    errno = 0;
    if (file.write(text) != text.size() || !file.flush()) {
        const int err = errno;
        if (error)
            *error = "Impossible d'écrire le journal " + file.fileName() + " : " + cause(err, file);
        return false;
    }
    return true;
}

} // namespace zuna::settings
