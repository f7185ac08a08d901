#include "linea_vista.h"

// The kernel's own termios2, whose rates are numbers: glibc's speed_t reads BOTHER for a custom
// rate such as 14400. Its header cannot stand beside <termios.h>, so it stays in this file.
#include <asm/termbits.h>
#include <sys/ioctl.h>

std::optional<Strumento::Linea> lineaVista(int descrittore)
{
    termios2 impostazioni{};
    if (::ioctl(descrittore, TCGETS2, &impostazioni) != 0)
        return std::nullopt;
    return Strumento::Linea{qint32(impostazioni.c_ospeed), (impostazioni.c_cflag & PARODD) != 0};
}
