#include "settings_file/settings_file.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <vector>

#include "link/sys_text.h"
#include "store/codepage.h"

namespace zuna::settings {

DiskCalls disk_calls;

namespace {

constexpr int kPipeWaitMs = 10000; // a pipe that sends nothing for this long is given up
constexpr long kPipeFsMagic = 0x50495045; // anonymous pipes ("<(...)", "|"), as statfs names them

QString q(const std::string& s) { return QString::fromStdString(s); }

// The cause of a failed disk operation in French.
QString cause(int err)
{
    if (err == ENOSPC)
        return "disque plein";
    return q(french_error(err));
}

// Where a byte offset lies in a document, for a person with an editor.
std::string where(const QByteArray& json, qsizetype offset)
{
    int line = 1, column = 1;
    for (qsizetype i = 0; i < offset && i < json.size(); ++i) {
        if (json[i] == '\n') {
            ++line;
            column = 1;
        } else if ((static_cast<unsigned char>(json[i]) & 0xC0) != 0x80) {
            ++column; // one per character, not per byte
        }
    }
    return "ligne " + std::to_string(line) + ", colonne " + std::to_string(column);
}

std::string parse_error_text(QJsonParseError::ParseError e)
{
    switch (e) {
    case QJsonParseError::UnterminatedObject: return "un objet n'est pas fermé (« } » ou « , » manque)";
    case QJsonParseError::MissingNameSeparator: return "« : » manque après un nom";
    case QJsonParseError::UnterminatedArray: return "une liste n'est pas fermée (« ] » ou « , » manque)";
    case QJsonParseError::MissingValueSeparator: return "« , » manque entre deux valeurs";
    case QJsonParseError::IllegalValue: return "valeur illisible";
    case QJsonParseError::TerminationByNumber: return "le fichier s'arrête au milieu d'un nombre";
    case QJsonParseError::IllegalNumber: return "nombre illisible";
    case QJsonParseError::IllegalEscapeSequence: return "séquence d'échappement invalide";
    case QJsonParseError::IllegalUTF8String: return "texte qui n'est pas en UTF-8";
    case QJsonParseError::UnterminatedString: return "un texte n'est pas fermé (« \" » manque)";
    case QJsonParseError::MissingObject: return "un objet était attendu";
    case QJsonParseError::DeepNesting: return "trop de niveaux imbriqués";
    case QJsonParseError::DocumentTooLarge: return "document trop grand";
    case QJsonParseError::GarbageAtEnd: return "du texte suit la fin du document";
    default: return "erreur de syntaxe";
    }
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// What QJsonDocument lets through without a word: a name given twice in one
// object (it keeps the last value), and escapes JSON does not have ("\1").
// Runs on a document QJsonDocument has parsed, so the structure is sound.
class JsonScan {
public:
    explicit JsonScan(const QByteArray& json) : b_(json) {}
    std::string run()
    {
        skip();
        value(0);
        return fault_;
    }

private:
    const QByteArray& b_;
    qsizetype at_ = 0;
    std::vector<std::string> path_; // names of the objects around the current value
    std::string fault_;

    char peek() const { return at_ < b_.size() ? b_[at_] : '\0'; }
    void skip()
    {
        while (at_ < b_.size() && std::strchr(" \t\r\n", b_[at_]) && b_[at_] != '\0')
            ++at_;
    }
    void value(int depth)
    {
        if (!fault_.empty() || at_ >= b_.size() || depth > 1024)
            return;
        const char c = b_[at_];
        if (c == '{' || c == '[') {
            container(depth, c == '{');
        } else if (c == '"') {
            std::string ignored;
            text(&ignored);
        } else {
            while (at_ < b_.size() && !std::strchr(",]} \t\r\n", b_[at_]))
                ++at_;
        }
    }
    void container(int depth, bool object)
    {
        const char close = object ? '}' : ']';
        ++at_;
        skip();
        if (peek() == close) {
            ++at_;
            return;
        }
        std::set<std::string> names;
        while (fault_.empty() && at_ < b_.size()) {
            skip();
            if (object) {
                const qsizetype name_at = at_;
                std::string name;
                if (peek() != '"' || !text(&name))
                    return;
                if (!names.insert(name).second) {
                    twice(name, name_at);
                    return;
                }
                skip();
                if (peek() == ':')
                    ++at_;
                skip();
                path_.push_back(name);
                value(depth + 1);
                path_.pop_back();
            } else {
                path_.push_back("[]");
                value(depth + 1);
                path_.pop_back();
            }
            skip();
            if (peek() != ',')
                break;
            ++at_;
        }
        if (peek() == close)
            ++at_;
    }
    // A JSON text from its opening quote, decoded into *out.
    bool text(std::string* out)
    {
        ++at_;
        while (at_ < b_.size() && fault_.empty()) {
            const char c = b_[at_];
            if (c == '"') {
                ++at_;
                return true;
            }
            if (c != '\\') {
                *out += c;
                ++at_;
                continue;
            }
            const qsizetype escape_at = at_;
            const char e = at_ + 1 < b_.size() ? b_[at_ + 1] : '\0';
            at_ += 2;
            switch (e) {
            case '"': *out += '"'; continue;
            case '\\': *out += '\\'; continue;
            case '/': *out += '/'; continue;
            case 'b': *out += '\b'; continue;
            case 'f': *out += '\f'; continue;
            case 'n': *out += '\n'; continue;
            case 'r': *out += '\r'; continue;
            case 't': *out += '\t'; continue;
            case 'u': {
                uint32_t cp = 0;
                if (!unit(&cp))
                    break;
                if (cp >= 0xD800 && cp < 0xDC00 && peek() == '\\' && at_ + 1 < b_.size() && b_[at_ + 1] == 'u') {
                    const qsizetype low_at = at_;
                    at_ += 2;
                    uint32_t low = 0;
                    if (unit(&low) && low >= 0xDC00 && low < 0xE000)
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    else
                        at_ = low_at;
                }
                store::append_utf8(*out, char32_t(cp));
                continue;
            }
            default: break;
            }
            const QByteArray seq = b_.mid(escape_at, e == 'u' ? 6 : 2);
            fault_ = "Le fichier contient « " + shown(seq.toStdString()) + " » (" + where(b_, escape_at) +
                     "), qui n'est pas une séquence d'échappement JSON.";
            return false;
        }
        return false;
    }
    // Four hexadecimal digits after "\u".
    bool unit(uint32_t* cp)
    {
        *cp = 0;
        for (int i = 0; i < 4; ++i) {
            const int d = at_ < b_.size() ? hex_value(b_[at_]) : -1;
            if (d < 0)
                return false;
            *cp = *cp * 16 + uint32_t(d);
            ++at_;
        }
        return true;
    }
    void twice(const std::string& name, qsizetype at)
    {
        std::string full;
        const bool setting = !path_.empty() && path_[0] == "reglages";
        for (size_t i = setting ? 1 : 0; i < path_.size(); ++i)
            full += path_[i] + "/";
        full += name;
        fault_ = std::string(setting ? "Le réglage « " : "La clé « ") + shown(full) +
                 " » figure deux fois dans le fichier (" + where(b_, at) + ") : on ne sait pas quelle valeur vaut.";
    }
};

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

bool walk(const Family& f, const QJsonObject& o, const QString& prefix, std::map<std::string, int>& out,
          std::string* error)
{
    for (auto it = o.begin(); it != o.end(); ++it) {
        const QString qname = prefix.isEmpty() ? it.key() : prefix + "/" + it.key();
        const std::string name = qname.toStdString();
        if (it.value().isObject()) {
            if (!walk(f, it.value().toObject(), qname, out, error))
                return false;
            continue;
        }
        const double d = it.value().toDouble(std::nan(""));
        if (!it.value().isDouble() || !std::isfinite(d) || d != std::floor(d)) {
            *error = "Le réglage « " + shown(name) + " » n'est pas un nombre entier.";
            return false;
        }
        // A flat "Canal 1/Mesure 1/max" beside the nested one names the same setting.
        if (out.count(name)) {
            *error = "Le réglage « " + shown(name) + " » figure deux fois dans le fichier : on ne sait pas quelle valeur vaut.";
            return false;
        }
        if (d < double(INT_MIN) || d > double(INT_MAX)) {
            // A whole number, only far out of any setting's range.
            for (const Setting& s : f.all_settings())
                if (s.name == name) {
                    const std::string value = std::fabs(d) < 1e15 ? QString::number(d, 'f', 0).toStdString()
                                                                   : QString::number(d).toStdString();
                    *error = "Le réglage « " + shown(name) + " » vaut " + value + ", hors de " +
                             std::to_string(s.min) + ".." + std::to_string(s.max) + ".";
                    return false;
                }
            *error = "Le réglage « " + shown(name) + " » n'existe pas sur un " + f.title() + ".";
            return false;
        }
        out[name] = static_cast<int>(d);
    }
    return true;
}

int hex_digit(QChar c)
{
    const ushort u = c.unicode();
    return u < 0x80 ? hex_value(char(u)) : -1;
}

ssize_t disk_write(int fd, const void* data, size_t size)
{
    return disk_calls.write ? disk_calls.write(fd, data, size) : ::write(fd, data, size);
}
int disk_sync(int fd) { return disk_calls.fsync ? disk_calls.fsync(fd) : ::fsync(fd); }

// Writes every byte; 0 or the errno of the write that failed.
int write_all(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        errno = 0;
        const ssize_t n = disk_write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno ? errno : EIO;
        if (n == 0)
            return ENOSPC; // a write that takes nothing will never end
        done += n;
    }
    errno = 0;
    if (disk_sync(fd) != 0)
        return errno ? errno : EIO;
    return 0;
}

mode_t current_umask()
{
    QFile status("/proc/self/status");
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("Umask:"))
                return mode_t(line.mid(6).trimmed().toUInt(nullptr, 8));
    return 022;
}

// "<name>.XXXXXX" beside `path`: the temporaries of its saves (mkstemp's and
// those of older versions of the station). A save holds a lock on its own;
// one nobody holds was left by a save that was killed, and goes.
void remove_stale_temporaries(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string base = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".";
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return;
    std::vector<std::string> stale;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() != base.size() + 6 || name.compare(0, base.size(), base) != 0)
            continue;
        bool random = true;
        for (size_t i = base.size(); i < name.size(); ++i)
            random = random && std::isalnum(static_cast<unsigned char>(name[i]));
        if (random)
            stale.push_back(dir + "/" + name);
    }
    ::closedir(d);
    for (const std::string& s : stale) {
        const int fd = ::open(s.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0)
            continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlink(s.c_str());
        ::close(fd);
    }
}

// The whole file through a locked temporary renamed over it; "" or the
// French cause.
QString replace_file(const QString& path, const QByteArray& bytes, bool* had_old)
{
    QByteArray target = QFile::encodeName(path);
    struct stat old {};
    *had_old = false;
    if (::lstat(target.constData(), &old) == 0) {
        if (S_ISLNK(old.st_mode)) {
            // The link stays; the file it names is replaced.
            const QString real = QFileInfo(path).canonicalFilePath();
            if (!real.isEmpty()) {
                target = QFile::encodeName(real);
                ::stat(target.constData(), &old);
            }
        }
        if (S_ISDIR(old.st_mode))
            return "c'est un dossier";
        if (S_ISREG(old.st_mode))
            *had_old = true;
        else if (!S_ISLNK(old.st_mode))
            return "ce n'est pas un fichier ordinaire";
    }
    const std::string final_name = target.toStdString();
    remove_stale_temporaries(final_name);
    std::string temp = final_name + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return cause(errno);
    ::flock(fd, LOCK_EX); // this save's own: not stale
    ::fchmod(fd, *had_old ? (old.st_mode & 07777) : (0666 & ~current_umask()));
    int err = write_all(fd, bytes);
    if (::close(fd) != 0 && err == 0)
        err = errno ? errno : EIO;
    if (err == 0 && ::rename(temp.c_str(), final_name.c_str()) != 0)
        err = errno ? errno : EIO;
    if (err != 0) {
        ::unlink(temp.c_str());
        return cause(err);
    }
    // The rename itself on the disk (a crash right after keeps the new file).
    const size_t slash = final_name.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : final_name.substr(0, slash);
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return QString();
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

std::string json_fault(const QByteArray& json)
{
    if (json.trimmed().isEmpty())
        return "Le fichier est vide.";
    QJsonParseError pe;
    QJsonDocument::fromJson(json, &pe);
    if (pe.error != QJsonParseError::NoError)
        return "Le fichier n'est pas un JSON valide, " + where(json, pe.offset) + " : " + parse_error_text(pe.error) +
               ".";
    return JsonScan(json).run();
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
    if (const std::string fault = json_fault(json); !fault.empty()) {
        *e = fault;
        return std::nullopt;
    }
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    if (!doc.isObject()) {
        *e = "Le fichier n'est pas un fichier de réglages.";
        return std::nullopt;
    }
    const QJsonObject root = doc.object();
    static const QStringList known = {"format", "famille", "monnayeur", "date", "temporisation",
                                      "identite", "reglages", "image"};
    for (const QString& key : root.keys())
        if (!known.contains(key)) {
            *e = "Clé inconnue « " + shown(key.toStdString()) + " » dans le fichier.";
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
                *e = "L'identité « " + shown(it.key().toStdString()) + " » n'est pas un texte.";
                return std::nullopt;
            }
            s.identity.push_back({it.key().toStdString(), it.value().toString().toStdString()});
        }
    }
    if (!root.value("reglages").isObject()) {
        *e = "Le fichier ne contient pas de réglages.";
        return std::nullopt;
    }
    if (!walk(f, root.value("reglages").toObject(), QString(), s.values, e))
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
                *e = "L'image mémoire du fichier contient « " + shown(QString(c).toStdString()) +
                     " », qui n'est pas hexadécimal.";
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
    bool had_old = false;
    const QString why = replace_file(path, to_json(f, s), &had_old);
    if (why.isEmpty())
        return true;
    if (error)
        *error = "Impossible d'écrire " + path + " : " + why + "." + (had_old ? "\nL'ancien fichier est conservé." : "");
    return false;
}

std::optional<QByteArray> read_settings_file(const QString& path, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return std::nullopt;
    };
    // Non-blocking: opening a FIFO waits for a writer otherwise.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return fail("Impossible de lire " + path + " : " + cause(errno) + ".");
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    struct statfs fs {};
    if (::fstat(fd, &st) != 0)
        return fail("Impossible de lire " + path + " : " + cause(errno) + ".");
    if (S_ISDIR(st.st_mode))
        return fail("Impossible de lire " + path + " : c'est un dossier, pas un fichier de réglages.");
    const bool pipe = S_ISFIFO(st.st_mode) && ::fstatfs(fd, &fs) == 0 && long(fs.f_type) == kPipeFsMagic;
    if (S_ISFIFO(st.st_mode) && !pipe)
        return fail("Impossible de lire " + path +
                    " : c'est un tube nommé, qui peut attendre sans fin un programme qui y écrive ; un fichier "
                    "ordinaire ou un tube « <(...) » est lu.");
    if (!S_ISREG(st.st_mode) && !pipe)
        return fail("Impossible de lire " + path + " : ce n'est pas un fichier ordinaire.");
    const QString too_big = path + " est trop grand pour un fichier de réglages (plus de " +
                            QString::number(kLargestFile >> 20) + " Mio).";
    if (S_ISREG(st.st_mode) && st.st_size > kLargestFile)
        return fail(too_big);
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, n);
            if (bytes.size() > kLargestFile)
                return fail(too_big);
            continue;
        }
        if (n == 0)
            break;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return fail("Impossible de lire " + path + " : " + cause(errno) + ".");
        // A pipe whose writer is slow: wait, but not forever.
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, kPipeWaitMs);
        if (ready == 0)
            return fail("Impossible de lire " + path + " : rien n'en est venu pendant " +
                        QString::number(kPipeWaitMs / 1000) + " s.");
        if (ready < 0 && errno != EINTR)
            return fail("Impossible de lire " + path + " : " + cause(errno) + ".");
    }
    return bytes;
}

std::optional<Snapshot> load_file(const QString& path, const Family& f, QString* error)
{
    const std::optional<QByteArray> bytes = read_settings_file(path, error);
    if (!bytes)
        return std::nullopt;
    std::string e;
    std::optional<Snapshot> s = from_json(f, *bytes, &e);
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
    const QString path = log_path(settings_path);
    auto fail = [&](const QString& why) {
        if (error)
            *error = "Impossible d'écrire le journal " + path + " : " + why + ".";
        return false;
    };
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0)
        return fail(cause(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return fail(cause(errno));
    if (!S_ISREG(st.st_mode))
        return fail("ce n'est pas un fichier ordinaire");
    ::flock(fd, LOCK_EX); // two stations logging into one file: whole lines each
    if (::fstat(fd, &st) != 0)
        return fail(cause(errno));
    const QDateTime now = QDateTime::currentDateTime();
    QByteArray text;
    if (st.st_size == 0)
        text += QByteArray::fromStdString(log_header()) + "\n";
    text += QByteArray::fromStdString(log_line(now.toString("yyyy-MM-dd").toStdString(),
                                               now.toString("HH:mm:ss").toStdString(), family, o)) + "\n";
    if (const int err = write_all(fd, text); err != 0) {
        // No torn line left for the next one to follow.
        if (::ftruncate(fd, st.st_size) == 0)
            ::fsync(fd);
        return fail(cause(err));
    }
    return true;
}

} // namespace zuna::settings
