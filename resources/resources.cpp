#include <QtCore/QtGlobal>

// Static libraries drop unreferenced resource objects; this pulls them in.
void bellboardInitPictures()
{
    Q_INIT_RESOURCE(pictures);
}
