#include "store/dbf.h"

#include "link/sys_text.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <functional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zuna::store {

namespace {

constexpr uint8_t kEndMark = 0x1A;
constexpr uint8_t kHeaderEnd = 0x0D;
constexpr int kSmallMin = -32768;
constexpr int kSmallMax = 32767;

std::string fmt(const char* f, auto... args)
{
    char buf[512];
    std::snprintf(buf, sizeof buf, f, args...);
    return buf;
}

void set(std::string* error, std::string text)
{
    if (error)
        *error = std::move(text);
}

std::string reason(int err)
{
    switch (err) {
    case EACCES:
    case EPERM: return "accès refusé";
    case EROFS: return "le disque est en lecture seule";
    case ENOENT: return "le fichier ou le dossier n'existe pas";
    case ENOSPC: return "le disque est plein";
    case EISDIR: return "c'est un dossier";
    default: return french_error(err);
    }
}

uint16_t le16(const std::string& s, size_t at) { return uint16_t(uint8_t(s[at]) | uint8_t(s[at + 1]) << 8); }
uint32_t le32(const std::string& s, size_t at)
{
    return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 | uint32_t(uint8_t(s[at + 2])) << 16 |
           uint32_t(uint8_t(s[at + 3])) << 24;
}
// Date of last update, header bytes 1 to 3 (year - 1900, month, day).
void put_today(std::string& h)
{
    const std::time_t now = std::time(nullptr);
    std::tm tm {};
    localtime_r(&now, &tm);
    h[1] = char(tm.tm_year % 256);
    h[2] = char(tm.tm_mon + 1);
    h[3] = char(tm.tm_mday);
}

void put32(std::string& s, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s[at + i] = char((v >> (8 * i)) & 0xFF);
}

std::string upper(std::string_view s)
{
    std::string u(s);
    for (char& c : u)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return u;
}

std::string_view trim_right(std::string_view s)
{
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
        s.remove_suffix(1);
    return s;
}

std::string_view trim(std::string_view s)
{
    s = trim_right(s);
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    return s;
}

// A decimal number as a dBase N column holds it: optional sign, digits,
// optional fraction. nullopt for anything else.
std::optional<double> parse_number(std::string_view s)
{
    s = trim(s);
    if (s.empty())
        return std::nullopt;
    size_t i = 0;
    if (s[0] == '-' || s[0] == '+')
        ++i;
    bool digits = false;
    bool point = false;
    for (; i < s.size(); ++i) {
        if (s[i] >= '0' && s[i] <= '9')
            digits = true;
        else if (s[i] == '.' && !point)
            point = true;
        else
            return std::nullopt;
    }
    if (!digits)
        return std::nullopt;
    return std::strtod(std::string(s).c_str(), nullptr);
}

bool sync_dir_of(const std::string& path)
{
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// Writes a whole new file beside path, syncs it and renames it over path.
bool replace_file(const std::string& path, const std::string& bytes, std::string* error)
{
    const std::string tmp = path + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        set(error, fmt("La table %s ne peut pas être écrite : %s.", path.c_str(), reason(errno).c_str()));
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int e = n < 0 ? errno : EIO;
            ::close(fd);
            ::unlink(tmp.c_str());
            set(error, fmt("La table %s ne peut pas être écrite : %s.", path.c_str(), reason(e).c_str()));
            return false;
        }
        done += size_t(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0 || ::rename(tmp.c_str(), path.c_str()) != 0) {
        const int e = errno;
        ::unlink(tmp.c_str());
        set(error, fmt("La table %s ne peut pas être écrite : %s.", path.c_str(), reason(e).c_str()));
        return false;
    }
    sync_dir_of(path);
    return true;
}

} // namespace

std::string number_text(std::optional<int> v) { return v ? std::to_string(*v) : std::string(); }

std::string find_table_file(const std::string& dir, const std::string& name)
{
    const std::string exact = dir + "/" + name;
    struct stat st {};
    if (::stat(exact.c_str(), &st) == 0)
        return exact;
    if (DIR* d = ::opendir(dir.c_str())) {
        std::string found;
        while (dirent* e = ::readdir(d))
            if (upper(e->d_name) == upper(name)) {
                found = dir + "/" + e->d_name;
                break;
            }
        ::closedir(d);
        if (!found.empty())
            return found;
    }
    return exact;
}

DbfFile::~DbfFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::unique_ptr<DbfFile> DbfFile::open(const std::string& path, std::string* error, std::string* notice,
                                       Access access)
{
    std::unique_ptr<DbfFile> f(new DbfFile);
    f->path_ = path;
    const char* p = path.c_str();
    int fd = access == Access::read_only ? -1 : ::open(p, O_RDWR | O_CLOEXEC);
    if (access == Access::read_only || (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM))) {
        fd = ::open(p, O_RDONLY | O_CLOEXEC);
        f->read_only_ = fd >= 0;
    }
    if (fd < 0) {
        set(error, fmt("La table %s ne peut pas être ouverte : %s.", p, reason(errno).c_str()));
        return nullptr;
    }
    f->fd_ = fd;
    if (!f->lock(!f->read_only_, nullptr, error))
        return nullptr;
    const bool loaded = f->load(error, notice);
    f->unlock();
    if (!loaded)
        return nullptr;
    if (f->read_only_ && notice)
        *notice = fmt("La table %s est en lecture seule : elle peut être consultée, mais rien n'y sera "
                      "enregistré ni supprimé.",
                      p);
    return f;
}

namespace {

// A record that an append or an old dBase program wrote whole: its deletion
// flag and its numbers read as such.
bool whole_record(std::string_view rec, const std::vector<DbfField>& fields)
{
    if (rec[0] != ' ' && rec[0] != '*')
        return false;
    for (const DbfField& f : fields) {
        if (f.type != 'N' && f.type != 'F')
            continue;
        const std::string_view cell = rec.substr(size_t(1 + f.offset), size_t(f.length));
        if (!trim(cell).empty() && !parse_number(cell))
            return false;
    }
    return true;
}

// The repair copies kept: <path>.bak the newest, then .bak2 and .bak3.
constexpr int kRepairCopies = 3;

std::string backup_name(const std::string& path, int n) { return path + ".bak" + (n > 1 ? std::to_string(n) : ""); }

// Makes <path>.bak free for a new copy: the earlier ones move down one name,
// the oldest goes (a station killed again and again would otherwise pile up
// whole copies of the table), and so do copies numbered past the three that
// an older version of the station left.
std::string free_backup_name(const std::string& path)
{
    struct stat st {};
    for (int n = kRepairCopies; ::lstat(backup_name(path, n).c_str(), &st) == 0; ++n)
        ::unlink(backup_name(path, n).c_str());
    for (int n = kRepairCopies - 1; n >= 1; --n)
        ::rename(backup_name(path, n).c_str(), backup_name(path, n + 1).c_str());
    return backup_name(path, 1);
}

const char* plural(uint32_t n) { return n > 1 ? "s" : ""; }

} // namespace

// Reads the whole file (the tables are small, a few hundred kilobytes),
// checks it and takes it as the table's state. The caller holds the lock.
bool DbfFile::load(std::string* error, std::string* notice)
{
    const char* p = path_.c_str();
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        set(error, fmt("La table %s ne peut pas être ouverte : ce n'est pas un fichier.", p));
        return false;
    }
    std::string bytes;
    bytes.resize(size_t(st.st_size));
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::pread(fd_, bytes.data() + got, bytes.size() - got, off_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += size_t(n);
    }
    bytes.resize(got);

    const auto bad = [&](const std::string& why) {
        set(error, fmt("Le fichier %s n'est pas une table dBase III valide : %s.", p, why.c_str()));
        return false;
    };
    if (bytes.size() < 33)
        return bad(fmt("il est trop court (%zu octets)", bytes.size()));
    const auto version = uint8_t(bytes[0]);
    if (version == 0x04 || version == 0x8C) {
        set(error, fmt("Le fichier %s est une table dBase de niveau 7 ; la station ne lit que les tables "
                       "dBase III.",
                       p));
        return false;
    }
    if (version != 0x03)
        return bad(fmt("l'octet de version vaut 0x%02X au lieu de 0x03", version));
    uint32_t count = le32(bytes, 4);
    const int header_len = le16(bytes, 8);
    const int record_len = le16(bytes, 10);
    if (header_len < 33 || size_t(header_len) > bytes.size())
        return bad(fmt("la longueur d'en-tête (%d) ne tient pas dans le fichier", header_len));

    // Field descriptors, 32 bytes each, up to the 0x0D terminator.
    std::vector<DbfField> fields;
    int offset = 0;
    size_t at = 32;
    for (;; at += 32) {
        if (at >= size_t(header_len))
            return bad("la fin de l'en-tête (0x0D) est absente");
        if (uint8_t(bytes[at]) == kHeaderEnd)
            break;
        if (at + 32 > size_t(header_len))
            return bad("la fin de l'en-tête (0x0D) est absente");
        DbfField fd_def;
        const char* name = bytes.data() + at;
        fd_def.name.assign(name, strnlen(name, 11));
        fd_def.type = bytes[at + 11];
        fd_def.length = uint8_t(bytes[at + 16]);
        fd_def.decimals = uint8_t(bytes[at + 17]);
        fd_def.offset = offset;
        if (fd_def.name.empty() || fd_def.length == 0)
            return bad(fmt("le champ n°%zu est mal décrit", fields.size() + 1));
        offset += fd_def.length;
        fields.push_back(std::move(fd_def));
    }
    if (fields.empty())
        return bad("il n'a aucun champ");
    if (record_len != offset + 1)
        return bad(fmt("la longueur des enregistrements (%d) ne correspond pas à celle des champs (%d)", record_len,
                       offset + 1));
    const uint64_t end = uint64_t(header_len) + uint64_t(count) * uint64_t(record_len);
    if (end > bytes.size()) {
        set(error, fmt("Le fichier %s est tronqué : l'en-tête annonce %u enregistrements, le fichier n'en "
                       "contient que %llu.",
                       p, count, (unsigned long long)((bytes.size() - header_len) / record_len)));
        return false;
    }

    // Bytes after the counted records, before a last end mark: whole records
    // that a crashed program wrote without raising the count (kept), then
    // what an interrupted write left (cut).
    const size_t tail = bytes.size() - size_t(end);
    const size_t body = tail > 0 && uint8_t(bytes.back()) == kEndMark ? tail - 1 : tail;
    uint32_t found = 0;
    while (size_t(found + 1) * size_t(record_len) <= body &&
           whole_record(std::string_view(bytes).substr(size_t(end) + size_t(found) * record_len, size_t(record_len)),
                        fields))
        ++found;
    const size_t cut = body - size_t(found) * size_t(record_len);
    if ((found > 0 || cut > 0) && !read_only_) {
        const std::string backup = free_backup_name(path_);
        std::string why;
        if (!replace_file(backup, bytes, &why)) {
            set(error, fmt("La table %s doit être réparée, mais sa copie de sauvegarde ne peut pas être écrite : %s",
                           p, why.c_str()));
            return false;
        }
        // The records are already there: cut what follows them, then count them.
        const uint64_t new_end = end + uint64_t(found) * uint64_t(record_len);
        const char mark = char(kEndMark);
        bool ok = ::ftruncate(fd_, off_t(new_end)) == 0 && ::pwrite(fd_, &mark, 1, off_t(new_end)) == 1 &&
                  ::fdatasync(fd_) == 0;
        if (ok && found > 0) {
            put32(bytes, 4, count + found);
            ok = ::pwrite(fd_, bytes.data() + 4, 4, 4) == 4 && ::fdatasync(fd_) == 0;
        }
        if (!ok) {
            set(error, fmt("La table %s ne peut pas être réparée : %s. L'ancien fichier est copié dans %s.", p,
                           reason(errno).c_str(), backup.c_str()));
            return false;
        }
        if (notice && found > 0) {
            *notice = fmt("La table %s annonçait %u fiche%s, mais %u fiche%s complète%s la suivai%s (laissée%s par "
                          "un programme interrompu) : %s été gardée%s, la table compte maintenant %u fiches. Celles "
                          "qui sont en trop peuvent être supprimées dans la liste. L'ancien fichier est copié dans %s.",
                          p, count, plural(count), found, plural(found), plural(found), found > 1 ? "ent" : "t",
                          plural(found), found > 1 ? "elles ont" : "elle a", plural(found), count + found,
                          backup.c_str());
            if (cut > 0)
                *notice += fmt(" Un reste incomplet de %zu octets a été retiré.", cut);
        } else if (notice) {
            *notice = fmt("La table %s se terminait par un enregistrement incomplet (écriture interrompue) ; il a été "
                          "retiré. L'ancien fichier est copié dans %s.",
                          p, backup.c_str());
        }
        count += found;
    }
    header_.assign(bytes, 0, size_t(header_len));
    records_.assign(bytes, size_t(header_len), size_t(count) * size_t(record_len));
    fields_ = std::move(fields);
    header_len_ = header_len;
    record_len_ = record_len;
    count_ = count;
    code_page_ = code_page_of_driver(uint8_t(bytes[29]));
    return true;
}

// Takes an fcntl record lock on the whole file (exclusive for a write). When
// another station replaced the file meanwhile (a pack renames a new file over
// it), the new file is opened and locked instead; *replaced then says so.
bool DbfFile::lock(bool exclusive, bool* replaced, std::string* error)
{
    for (;;) {
        struct flock l {};
        l.l_type = short(exclusive ? F_WRLCK : F_RDLCK);
        l.l_whence = SEEK_SET;
        int r;
        while ((r = ::fcntl(fd_, F_SETLKW, &l)) != 0 && errno == EINTR) {
        }
        // A folder whose server keeps no locks: go on without, as before.
        if (r != 0 && errno != ENOLCK && errno != EOPNOTSUPP && errno != ENOSYS) {
            set(error, fmt("La table %s ne peut pas être verrouillée : %s.", path_.c_str(), reason(errno).c_str()));
            return false;
        }
        struct stat mine {}, now {};
        if (::fstat(fd_, &mine) != 0 || ::stat(path_.c_str(), &now) != 0) {
            const int e = errno;
            unlock();
            set(error, fmt("La table %s ne peut pas être ouverte : %s.", path_.c_str(), reason(e).c_str()));
            return false;
        }
        if (mine.st_dev == now.st_dev && mine.st_ino == now.st_ino)
            return true;
        unlock();
        const int fd = ::open(path_.c_str(), (read_only_ ? O_RDONLY : O_RDWR) | O_CLOEXEC);
        if (fd < 0) {
            set(error, fmt("La table %s ne peut pas être ouverte : %s.", path_.c_str(), reason(errno).c_str()));
            return false;
        }
        ::close(fd_);
        fd_ = fd;
        if (replaced)
            *replaced = true;
    }
}

void DbfFile::unlock()
{
    struct flock l {};
    l.l_type = F_UNLCK;
    l.l_whence = SEEK_SET;
    ::fcntl(fd_, F_SETLK, &l);
}

bool DbfFile::lock_and_load(bool* replaced, std::string* error)
{
    if (!lock(!read_only_, replaced, error))
        return false;
    if (load(error, nullptr))
        return true;
    unlock();
    return false;
}

bool DbfFile::refresh(std::string* error)
{
    if (!lock_and_load(nullptr, error))
        return false;
    unlock();
    return true;
}

std::unique_ptr<DbfFile> DbfFile::create(const std::string& path, const std::vector<DbfColumn>& columns,
                                         std::string* error)
{
    std::string h(32, '\0');
    h[0] = 0x03;
    int record_len = 1;
    for (const auto& c : columns) {
        std::string d(32, '\0');
        std::memcpy(d.data(), c.name, std::min<size_t>(std::strlen(c.name), 10));
        d[11] = c.type;
        d[16] = char(c.length);
        d[17] = char(c.decimals);
        h += d;
        record_len += c.length;
    }
    h += char(kHeaderEnd);
    h[8] = char(h.size() & 0xFF);
    h[9] = char(h.size() >> 8);
    h[10] = char(record_len & 0xFF);
    h[11] = char(record_len >> 8);
    h[29] = 0x57; // language driver: Windows ANSI (cp1252)
    put_today(h);
    if (!replace_file(path, h + char(kEndMark), error))
        return nullptr;
    return open(path, error);
}

int DbfFile::field_index(std::string_view name) const
{
    const std::string u = upper(name);
    for (size_t i = 0; i < fields_.size(); ++i)
        if (upper(fields_[i].name) == u)
            return int(i);
    return -1;
}

bool DbfFile::has_columns(const std::vector<DbfColumn>& columns, std::string* error) const
{
    for (const auto& c : columns) {
        const int i = field_index(c.name);
        const bool ok = i >= 0 && fields_[i].type == c.type &&
                        (c.type != 'C' || fields_[i].length == c.length) &&
                        (c.type != 'N' || fields_[i].decimals == 0);
        if (!ok) {
            const std::string want =
                c.type == 'C' ? fmt("texte de %d caractères", c.length) : std::string("nombre entier");
            set(error, fmt("La table %s n'a pas la colonne %s attendue (%s).", path_.c_str(), c.name, want.c_str()));
            return false;
        }
    }
    return true;
}

bool DbfFile::deleted(uint32_t rec) const { return rec >= count_ || records_[size_t(rec) * record_len_] == '*'; }

std::string_view DbfFile::raw(uint32_t rec, int field) const
{
    if (rec >= count_ || field < 0 || field >= int(fields_.size()))
        return {};
    const auto& f = fields_[field];
    return std::string_view(records_).substr(size_t(rec) * record_len_ + 1 + f.offset, size_t(f.length));
}

std::string DbfFile::text(uint32_t rec, int field) const { return to_utf8(trim_right(raw(rec, field)), code_page_); }

std::optional<int> DbfFile::integer(uint32_t rec, int field) const
{
    const auto v = parse_number(raw(rec, field));
    if (!v || *v < -2147483648.0 || *v > 2147483647.0)
        return std::nullopt;
    return int(std::lround(*v));
}

DbfFile::Values DbfFile::values(uint32_t rec) const
{
    Values v;
    for (size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i].type == 'N' || fields_[i].type == 'F')
            v.push_back(std::string(trim(raw(rec, int(i)))));
        else
            v.push_back(text(rec, int(i)));
    }
    return v;
}

bool DbfFile::encode(const Values& values, std::string& record, std::string* error) const
{
    if (values.size() != fields_.size()) {
        set(error, fmt("L'enregistrement ne correspond pas aux %zu champs de la table %s.", fields_.size(),
                       path_.c_str()));
        return false;
    }
    record.assign(size_t(record_len_), ' ');
    for (size_t i = 0; i < fields_.size(); ++i) {
        const DbfField& f = fields_[i];
        const char* name = f.name.c_str();
        std::string cell;
        if (f.type == 'N' || f.type == 'F') {
            const std::string_view v = trim(values[i]);
            if (!v.empty()) {
                const auto num = parse_number(v);
                if (!num || (f.decimals == 0 && *num != std::floor(*num))) {
                    set(error, fmt("'%s' n'est pas un nombre entier correct pour le champ '%s'.",
                                   std::string(v).c_str(), name));
                    return false;
                }
                // Columns of six digits without decimals are the station's small integers.
                if (f.decimals == 0 && f.length <= 6 && (*num < kSmallMin || *num > kSmallMax)) {
                    set(error, fmt("%g n'est pas une valeur correcte pour le champ '%s'. Les valeurs doivent être "
                                   "comprises entre %g et %g",
                                   *num, name, double(kSmallMin), double(kSmallMax)));
                    return false;
                }
                cell = fmt("%.*f", f.decimals, *num);
                if (int(cell.size()) > f.length) {
                    set(error, fmt("%s est trop grand pour le champ '%s' (%d chiffres au plus).", cell.c_str(), name,
                                   f.length));
                    return false;
                }
                cell.insert(0, size_t(f.length) - cell.size(), ' ');
            }
        } else {
            const auto bytes = from_utf8(values[i], code_page_);
            if (!bytes) {
                const std::string c = missing_character(values[i], code_page_);
                if (c.empty())
                    set(error, fmt("Le texte « %s » du champ '%s' contient un caractère que la table ne peut pas "
                                   "enregistrer.",
                                   values[i].c_str(), name));
                else
                    set(error, fmt("Le texte « %s » du champ '%s' contient le caractère « %s », que la table "
                                   "(page de codes %s) ne peut pas enregistrer.",
                                   values[i].c_str(), name, c.c_str(), code_page_name(code_page_)));
                return false;
            }
            if (int(bytes->size()) > f.length) {
                set(error, fmt("Le texte « %s » est trop long pour le champ '%s' : %d caractères au plus.",
                               values[i].c_str(), name, f.length));
                return false;
            }
            cell = *bytes;
        }
        cell.resize(size_t(f.length), ' ');
        record.replace(size_t(1 + f.offset), size_t(f.length), cell);
    }
    return true;
}

bool DbfFile::refuse_read_only(std::string* error) const
{
    if (!read_only_)
        return false;
    set(error, fmt("La table %s est en lecture seule : rien n'y peut être enregistré ni supprimé.", path_.c_str()));
    return true;
}

bool DbfFile::write_at(uint64_t offset, std::string_view bytes, std::string* error)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            set(error, fmt("La table %s ne peut pas être écrite : %s.", path_.c_str(),
                           reason(n < 0 ? errno : EIO).c_str()));
            return false;
        }
        done += size_t(n);
    }
    return true;
}

bool DbfFile::sync(std::string* error)
{
    if (::fdatasync(fd_) == 0)
        return true;
    set(error, fmt("La table %s ne peut pas être écrite : %s.", path_.c_str(), reason(errno).c_str()));
    return false;
}

void DbfFile::stamp_header(uint32_t count)
{
    put_today(header_);
    put32(header_, 4, count);
}

namespace {
// Releases the file lock when a write ends, whichever way.
struct Unlock {
    std::function<void()> release;
    ~Unlock() { release(); }
};
} // namespace

bool DbfFile::append(const Values& values, std::string* error)
{
    std::string record;
    if (!encode(values, record, error) || refuse_read_only(error))
        return false;
    if (!lock_and_load(nullptr, error))
        return false;
    const Unlock unlock_at_end {[this] { unlock(); }};
    if (!encode(values, record, error)) // the columns as they are now on disk
        return false;
    const uint64_t at = uint64_t(header_len_) + uint64_t(count_) * record_len_;
    // First the record and the end mark, synced; only then the count. A crash
    // in between leaves a whole record after the count, kept by the next open.
    if (!write_at(at, record + char(kEndMark), error) || !sync(error)) {
        if (::ftruncate(fd_, off_t(at)) == 0)
            write_at(at, std::string(1, char(kEndMark)), nullptr);
        return false;
    }
    if (fault_ == DbfFault::after_record) {
        set(error, "écriture interrompue (essai)");
        return false;
    }
    const std::string old = header_.substr(0, 8);
    stamp_header(count_ + 1);
    if (!write_at(0, std::string_view(header_).substr(0, 8), error) || !sync(error)) {
        header_.replace(0, 8, old);
        if (::ftruncate(fd_, off_t(at)) == 0)
            write_at(at, std::string(1, char(kEndMark)), nullptr);
        return false;
    }
    records_ += record;
    ++count_;
    return true;
}

// After re-reading for an edit or a delete: true (with a message) when
// record rec may no longer be the one the operator chose, because another
// station packed the table meanwhile. An edit by another station in place
// leaves the record where it was.
bool DbfFile::moved_since(uint32_t rec, uint32_t count_was, int record_len_was, bool replaced,
                          std::string* error) const
{
    if (!replaced && count_ >= count_was && record_len_ == record_len_was && rec < count_)
        return false;
    set(error, fmt("La table %s a été réorganisée par un autre poste : rien n'a été modifié. Choisissez à nouveau "
                   "la fiche.",
                   path_.c_str()));
    return true;
}

bool DbfFile::update(uint32_t rec, const Values& values, std::string* error)
{
    std::string record;
    if (rec >= count_) {
        set(error, fmt("L'enregistrement %u n'existe pas dans la table %s.", rec + 1, path_.c_str()));
        return false;
    }
    if (!encode(values, record, error) || refuse_read_only(error))
        return false;
    const uint32_t count_was = count_;
    const int record_len_was = record_len_;
    bool replaced = false;
    if (!lock_and_load(&replaced, error))
        return false;
    const Unlock unlock_at_end {[this] { unlock(); }};
    if (moved_since(rec, count_was, record_len_was, replaced, error) || !encode(values, record, error))
        return false;
    record[0] = records_[size_t(rec) * record_len_];
    if (!write_at(uint64_t(header_len_) + uint64_t(rec) * record_len_, record, error) || !sync(error))
        return false;
    const std::string old = header_.substr(0, 8);
    stamp_header(count_);
    if (!write_at(0, std::string_view(header_).substr(0, 8), error) || !sync(error))
        header_.replace(0, 8, old);
    records_.replace(size_t(rec) * record_len_, size_t(record_len_), record);
    return true;
}

bool DbfFile::remove(uint32_t rec, std::string* error)
{
    if (rec >= count_) {
        set(error, fmt("L'enregistrement %u n'existe pas dans la table %s.", rec + 1, path_.c_str()));
        return false;
    }
    if (refuse_read_only(error))
        return false;
    const uint32_t count_was = count_;
    const int record_len_was = record_len_;
    bool replaced = false;
    if (!lock_and_load(&replaced, error))
        return false;
    const Unlock unlock_at_end {[this] { unlock(); }};
    if (moved_since(rec, count_was, record_len_was, replaced, error))
        return false;
    if (!write_at(uint64_t(header_len_) + uint64_t(rec) * record_len_, "*", error) || !sync(error))
        return false;
    records_[size_t(rec) * record_len_] = '*';
    const std::string old = header_.substr(0, 8);
    stamp_header(count_);
    if (!write_at(0, std::string_view(header_).substr(0, 8), error) || !sync(error))
        header_.replace(0, 8, old);
    return true;
}

bool DbfFile::pack(std::string* error)
{
    if (refuse_read_only(error) || !lock_and_load(nullptr, error))
        return false;
    // The lock stays on the old file until its descriptor is closed, after
    // the rename: a station waiting for it then finds the new file.
    const Unlock unlock_at_end {[this] { unlock(); }};
    std::string kept;
    uint32_t n = 0;
    for (uint32_t r = 0; r < count_; ++r)
        if (!deleted(r)) {
            kept.append(records_, size_t(r) * record_len_, size_t(record_len_));
            ++n;
        }
    std::string header = header_;
    put_today(header);
    put32(header, 4, n);
    if (!replace_file(path_, header + kept + char(kEndMark), error))
        return false;
    const int fd = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        set(error, fmt("La table %s ne peut pas être rouverte : %s.", path_.c_str(), reason(errno).c_str()));
        return false;
    }
    ::close(fd_);
    fd_ = fd;
    header_ = std::move(header);
    records_ = std::move(kept);
    count_ = n;
    return true;
}

std::unique_ptr<DbfFile> open_table(const std::string& dir, const std::string& name,
                                    const std::vector<DbfColumn>& columns, std::string* error, std::string* notice)
{
    const std::string path = find_table_file(dir, name);
    std::unique_ptr<DbfFile> f;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) {
        if (::access(dir.c_str(), W_OK) != 0) {
            set(error, fmt("Le dossier de données %s est en lecture seule : la table %s ne peut pas y être créée.",
                           dir.c_str(), name.c_str()));
            return nullptr;
        }
        f = DbfFile::create(path, columns, error);
    } else {
        f = DbfFile::open(path, error, notice);
    }
    if (f && !f->has_columns(columns, error))
        return nullptr;
    return f;
}

} // namespace zuna::store
