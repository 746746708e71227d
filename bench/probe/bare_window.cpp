// The reference for start-up and memory: a bare Qt window and nothing else.

#include "app/twips.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QWidget window;
    // Quorrel's window size, so that both paint as many pixels.
    window.setFixedSize(twips::size(5700, 3240));
    window.show();
    return QApplication::exec();
}
