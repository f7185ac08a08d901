#include "filo_del_server.h"

#include <QThread>

#include <atomic>

namespace FiloDelServer {
namespace {
std::atomic<int> g_sospesi{0};
} // namespace

void congeda(QThread *filo, std::chrono::milliseconds attesa)
{
    if (!filo)
        return;
    filo->quit();
    if (filo->wait(QDeadlineTimer(attesa))) {
        delete filo;
        return;
    }
    ++g_sospesi;
    QObject::connect(
        filo, &QThread::finished, filo, [] { --g_sospesi; }, Qt::DirectConnection);
    QObject::connect(filo, &QThread::finished, filo, &QObject::deleteLater);
}

bool qualcunoSospeso()
{
    return g_sospesi.load() > 0;
}

} // namespace FiloDelServer
