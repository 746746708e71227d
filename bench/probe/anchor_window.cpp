// The anchors for start-up and memory: a window of Quorrel's size, bare, or,
// built with ANCHOR_LABEL, with one label of text in Quorrel's font (the
// desktop's family at 8 points, as app/layout.cpp sets the window's).

#include "app/twips.h"

#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QWidget window;
    window.setFixedSize(twips::size(5700, 3240)); // as many pixels to paint as Quorrel's
#ifdef ANCHOR_LABEL
    QFont font = window.font();
    font.setPointSize(8);
    window.setFont(font);
    QLabel label(QStringLiteral("Status: successfully connected at 12:34"), &window);
#endif
    window.show();
    return QApplication::exec();
}
