// Stepping through the list with ">>" and "<<", and the search by name.

#include "TestSupport.h"
#include "catalog/Catalog.h"

#include <QtTest>

using namespace tolvane::catalog;

namespace {
constexpr int None = -2; // "do nothing" / "select the first row" in the tables below

int orNone(std::optional<int> row) {
    return row.value_or(None);
}
} // namespace

class CatalogNavigationTest : public QObject {
    Q_OBJECT
private slots:
    void stepping_neverWrapsAround_data();
    void stepping_neverWrapsAround();
    void foldAtoZ_changesOnlyLettersAToZ();
    void findStation_walksTowardsTheEndThenFallsBackToFirstRow();
    void findStation_edgeCases_data();
    void findStation_edgeCases();
};

void CatalogNavigationTest::stepping_neverWrapsAround_data() {
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("rowCount");
    QTest::addColumn<int>("next");
    QTest::addColumn<int>("previous");
    QTest::newRow("no selection") << -1 << 3 << 0 << None;
    QTest::newRow("first row") << 0 << 3 << 1 << None;
    QTest::newRow("middle row") << 1 << 3 << 2 << 0;
    QTest::newRow("last row") << 2 << 3 << None << 1;
    QTest::newRow("single row selected") << 0 << 1 << None << None;
    QTest::newRow("empty list") << -1 << 0 << None << None;
}

void CatalogNavigationTest::stepping_neverWrapsAround() {
    QFETCH(int, selected);
    QFETCH(int, rowCount);
    QFETCH(int, next);
    QFETCH(int, previous);
    QCOMPARE(orNone(nextStationRow(selected, rowCount)), next);
    QCOMPARE(orNone(previousStationRow(selected, rowCount)), previous);
}

void CatalogNavigationTest::foldAtoZ_changesOnlyLettersAToZ() {
    QCOMPARE(foldAtoZ("rock fm 101.5"), QString("ROCK FM 101.5"));
    QCOMPARE(foldAtoZ(QString::fromUtf8("café ßüñ ÄÉ")), QString::fromUtf8("CAFé ßüñ ÄÉ"));
    QCOMPARE(foldAtoZ("[a-z]`{@"), QString("[A-Z]`{@"));
}

void CatalogNavigationTest::findStation_walksTowardsTheEndThenFallsBackToFirstRow() {
    const QStringList rows{"Alpha", "Rock FM", "Beat", "Jazz FM", "Zed"};
    // From no selection: Rock FM, then Jazz FM, then none (first row), then Rock FM again.
    int selected = -1;
    QList<int> visited;
    for (int i = 0; i < 4; ++i) {
        const auto found = findStationRow(rows, selected, "fm");
        visited << orNone(found);
        selected = found.value_or(0);
    }
    QCOMPARE(visited, QList<int>({1, 3, None, 1}));
}

void CatalogNavigationTest::findStation_edgeCases_data() {
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("found");
    const QStringList abc{"Rock FM", "Pop", "Rock Two"};
    QTest::newRow("first row is skipped without selection") << abc << -1 << "rock" << 2;
    QTest::newRow("first row never found by search")
        << QStringList{"Rock FM", "Pop"} << -1 << "rock" << None;
    QTest::newRow("no wrap from the last row") << abc << 2 << "rock" << None;
    QTest::newRow("selected row itself is skipped") << abc << 2 << "two" << None;
    QTest::newRow("empty text never matches") << abc << -1 << "" << None;
    QTest::newRow("upper case text matches") << abc << 0 << "TWO" << 2;
    QTest::newRow("mixed case caption") << QStringList{"x", "JaZz Lounge"} << -1 << "jAzZ" << 1;
    QTest::newRow("accented small letter does not match capital")
        << QStringList{"x", QString::fromUtf8("RADIO CAFÉ")} << -1 << QString::fromUtf8("café")
        << None;
    QTest::newRow("accented letter matches itself")
        << QStringList{"x", QString::fromUtf8("Radio Café")} << -1 << QString::fromUtf8("café")
        << 1;
    QTest::newRow("single row") << QStringList{"Rock"} << -1 << "rock" << None;
}

void CatalogNavigationTest::findStation_edgeCases() {
    QFETCH(QStringList, rows);
    QFETCH(int, selected);
    QFETCH(QString, text);
    QFETCH(int, found);
    QCOMPARE(orNone(findStationRow(rows, selected, text)), found);
}

QTEST_GUILESS_MAIN(CatalogNavigationTest)
#include "test_catalog_navigation.moc"
