#pragma once
// A line of the top row that says what the tree shows instead of the loaded archive alone (a
// comparison, layers): where the changes bar and the find box stand, both closed meanwhile.
// Hidden until shown.
#include <QLabel>

namespace vorlr {

inline QLabel* makeTopRowLine(QWidget* paMain, const QString& objectName) {
    auto* line = new QLabel(paMain);
    line->setObjectName(objectName);
    line->setGeometry(440, 10, 245, 25);
    line->hide();
    return line;
}

}  // namespace vorlr
