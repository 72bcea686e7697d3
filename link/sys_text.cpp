#include "link/sys_text.h"

#include <cerrno>

namespace zuna {

std::string french_error(int err)
{
    switch (err) {
    case EPERM: return "opération non permise";
    case ENOENT: return "fichier ou périphérique introuvable";
    case EIO: return "erreur d'entrée-sortie (le matériel ne répond pas)";
    case ENXIO:
    case ENODEV: return "périphérique absent";
    case EBADF: return "descripteur de fichier invalide";
    case ENOMEM: return "mémoire insuffisante";
    case EACCES: return "permission refusée";
    case EBUSY: return "périphérique occupé par un autre programme";
    case EEXIST: return "le fichier existe déjà";
    case ENOTDIR: return "un élément du chemin n'est pas un dossier";
    case EISDIR: return "c'est un dossier";
    case EINVAL: return "argument invalide";
    case EMFILE:
    case ENFILE: return "trop de fichiers ouverts";
    case ENOTTY: return "ce périphérique n'est pas un port parallèle";
    case EFBIG: return "fichier trop grand";
    case ENOSPC: return "le disque est plein";
    case EROFS: return "le disque est en lecture seule";
    case ENAMETOOLONG: return "nom de fichier trop long";
    case ENOSYS: return "fonction non disponible sur ce système";
    case EDQUOT: return "quota de disque dépassé";
    case ETIMEDOUT: return "délai dépassé";
    case EAGAIN: return "ressource momentanément indisponible";
    case EINTR: return "appel interrompu";
    case ESTALE: return "fichier réseau périmé (partage déconnecté)";
    case ENOLCK: return "verrou de fichier indisponible";
    default: return "erreur système " + std::to_string(err);
    }
}

} // namespace zuna
