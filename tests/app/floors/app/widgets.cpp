// Only for the include check.
#include <QObject>
#include <QWidget>
#include <QtGui/QIcon>

#include "net/smtp.h"
