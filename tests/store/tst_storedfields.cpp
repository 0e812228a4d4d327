#include <QTest>

class Placeholder : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void nothingYet() {}
};

QTEST_GUILESS_MAIN(Placeholder)
#include "tst_storedfields.moc"
