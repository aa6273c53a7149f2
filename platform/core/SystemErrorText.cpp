#include "SystemErrorText.h"

#include <cerrno>
#include <cstring>

namespace sitowiak::platform {

// The errors a file, folder or socket operation of this program can meet;
// the rest are rare enough to show as the system words them.
std::string SystemErrorText(int error) {
    switch (error) {
        case EACCES:
            return "brak uprawnień";
        case EPERM:
            return "operacja niedozwolona";
        case ENOENT:
            return "nie ma takiego pliku ani folderu";
        case ENOTDIR:
            return "to nie jest folder";
        case EISDIR:
            return "to jest folder";
        case EEXIST:
            return "plik już istnieje";
        case ENOTEMPTY:
            return "folder nie jest pusty";
        case ENOSPC:
            return "brak miejsca na dysku";
        case EDQUOT:
            return "przekroczony przydział miejsca na dysku";
        case EROFS:
            return "system plików tylko do odczytu";
        case EIO:
            return "błąd wejścia-wyjścia";
        case EMFILE:
        case ENFILE:
            return "za dużo otwartych plików";
        case ENAMETOOLONG:
            return "za długa nazwa pliku";
        case ELOOP:
            return "za dużo dowiązań symbolicznych";
        case EXDEV:
            return "pliki na różnych systemach plików";
        case EBUSY:
            return "zasób jest zajęty";
        case ETXTBSY:
            return "plik programu jest w użyciu";
        case EFBIG:
            return "plik jest za duży";
        case ENOMEM:
            return "brak pamięci";
        case EINVAL:
            return "nieprawidłowy argument";
        case EADDRINUSE:
            return "adres jest już w użyciu";
        case ECONNREFUSED:
            return "połączenie odrzucone";
        default:
            return "błąd systemu nr " + std::to_string(error) + " (" + std::strerror(error) + ")";
    }
}

}  // namespace sitowiak::platform
