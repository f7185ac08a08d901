#pragma once

// Records, from inside the test program, the calls through which the program sets a terminal's
// line and writes to it: the settings it asks for (a pseudo-terminal forgets the parity bit, so
// parity can only be seen here), every byte written, every drain and every close.

#ifdef __cplusplus
extern "C" {
#endif

enum TipoEventoSistema {
    EVENTO_IMPOSTAZIONI = 1,
    EVENTO_SCRITTURA = 2,
    EVENTO_DRENAGGIO = 3,
    EVENTO_CHIUSURA = 4,
};

struct EventoSistema
{
    int tipo;
    int fd;
    unsigned int cflag; /* for EVENTO_IMPOSTAZIONI: the c_cflag asked for */
    unsigned char byte; /* for EVENTO_SCRITTURA: one event per byte written */
};

void registro_avvia(void);
void registro_ferma(void);
int registro_copia(struct EventoSistema *destinazione, int massimo);

#ifdef __cplusplus
}
#endif
