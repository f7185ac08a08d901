#define _GNU_SOURCE
#include "registro_sistema.h"

#include <dlfcn.h>
#include <pthread.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

enum { MASSIMO_EVENTI = 1 << 16, MASSIMO_FD = 1024 };

static pthread_mutex_t blocco = PTHREAD_MUTEX_INITIALIZER;
static int attivo;
static int terminale[MASSIMO_FD]; /* descriptors whose line settings were set while recording */
static struct EventoSistema eventi[MASSIMO_EVENTI];
static int numero_eventi;

static void aggiungi(int tipo, int fd, unsigned int cflag, unsigned char byte)
{
    if (numero_eventi < MASSIMO_EVENTI) {
        struct EventoSistema *e = &eventi[numero_eventi++];
        e->tipo = tipo;
        e->fd = fd;
        e->cflag = cflag;
        e->byte = byte;
    }
}

static int osservato(int fd)
{
    return attivo && fd >= 0 && fd < MASSIMO_FD && terminale[fd];
}

void registro_avvia(void)
{
    pthread_mutex_lock(&blocco);
    memset(terminale, 0, sizeof terminale);
    numero_eventi = 0;
    attivo = 1;
    pthread_mutex_unlock(&blocco);
}

void registro_ferma(void)
{
    pthread_mutex_lock(&blocco);
    attivo = 0;
    pthread_mutex_unlock(&blocco);
}

int registro_copia(struct EventoSistema *destinazione, int massimo)
{
    pthread_mutex_lock(&blocco);
    int n = numero_eventi < massimo ? numero_eventi : massimo;
    memcpy(destinazione, eventi, (size_t)n * sizeof *eventi);
    pthread_mutex_unlock(&blocco);
    return n;
}

int tcsetattr(int fd, int azione, const struct termios *tio)
{
    static int (*reale)(int, int, const struct termios *);
    if (!reale)
        *(void **)&reale = dlsym(RTLD_NEXT, "tcsetattr");
    pthread_mutex_lock(&blocco);
    if (attivo && fd >= 0 && fd < MASSIMO_FD) {
        terminale[fd] = 1;
        aggiungi(EVENTO_IMPOSTAZIONI, fd, (unsigned int)tio->c_cflag, 0);
    }
    pthread_mutex_unlock(&blocco);
    return reale(fd, azione, tio);
}

ssize_t write(int fd, const void *dati, size_t quanti)
{
    static ssize_t (*reale)(int, const void *, size_t);
    if (!reale)
        *(void **)&reale = dlsym(RTLD_NEXT, "write");
    ssize_t scritti = reale(fd, dati, quanti);
    if (scritti > 0) {
        pthread_mutex_lock(&blocco);
        if (osservato(fd)) {
            for (ssize_t i = 0; i < scritti; ++i)
                aggiungi(EVENTO_SCRITTURA, fd, 0, ((const unsigned char *)dati)[i]);
        }
        pthread_mutex_unlock(&blocco);
    }
    return scritti;
}

int tcdrain(int fd)
{
    static int (*reale)(int);
    if (!reale)
        *(void **)&reale = dlsym(RTLD_NEXT, "tcdrain");
    int esito = reale(fd);
    pthread_mutex_lock(&blocco);
    if (osservato(fd))
        aggiungi(EVENTO_DRENAGGIO, fd, 0, 0);
    pthread_mutex_unlock(&blocco);
    return esito;
}

int close(int fd)
{
    static int (*reale)(int);
    if (!reale)
        *(void **)&reale = dlsym(RTLD_NEXT, "close");
    pthread_mutex_lock(&blocco);
    if (osservato(fd)) {
        aggiungi(EVENTO_CHIUSURA, fd, 0, 0);
        terminale[fd] = 0;
    }
    pthread_mutex_unlock(&blocco);
    return reale(fd);
}
