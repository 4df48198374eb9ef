// Form state saved into and loaded from a settings store, on Qt's offscreen platform.
#include "app/FormOptions.h"

#include "common/QNMemIniFile.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTableWidget>
#include <QFileDialog>
#include <QTimeEdit>
#include <QTimer>

#include "support/TestSupport.h"

namespace {

struct TTag : TObject {
    explicit TTag(int v) : Value(v) {}
    int Value;
};

// A form with one control of every kind the options know.
struct TForm {
    QWidget Root;
    QLineEdit* Edit = new QLineEdit(&Root);
    QPlainTextEdit* Memo = new QPlainTextEdit(&Root);
    QTimeEdit* Time = new QTimeEdit(&Root);
    QDateTimeEdit* Stamp = new QDateTimeEdit(&Root);
    QCheckBox* Check = new QCheckBox(&Root);
    QRadioButton* Radio = new QRadioButton(&Root);
    QComboBox* Combo = new QComboBox(&Root);
    QTableWidget* Grid = new QTableWidget(0, 2, &Root);
    QLineEdit* Unnamed = new QLineEdit(&Root);
    TForm() {
        Edit->setObjectName("EditMask");
        Memo->setObjectName("MemoFolders");
        Time->setObjectName("MaskEditTime");
        Stamp->setObjectName("DateTimePicker1");
        Check->setObjectName("CheckBoxSub");
        Radio->setObjectName("RadioButtonAll");
        Combo->setObjectName("ComboBoxKind");
        Grid->setObjectName("StringGrid1");
        Combo->addItems({"Folders", "Zip", "FTP"});
    }
};

TEST(FormOptions, RoundTripOfEveryControlKind) {
    TFMWMemIniFile store("");
    {
        TForm f;
        f.Edit->setText("*.cpp|*.h");
        f.Memo->setPlainText("/home/a\n/home/b");
        f.Time->setTime(QTime(13, 14, 15));
        f.Stamp->setDateTime(QDateTime(QDate(2011, 3, 4), QTime(5, 6, 7)));
        f.Check->setChecked(true);
        f.Radio->setChecked(true);
        f.Combo->setCurrentIndex(2);
        f.Grid->setRowCount(3);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 2; ++c)
                f.Grid->setItem(r, c, new QTableWidgetItem(QString("r%1c%2").arg(r).arg(c)));
        SaveFormOptions(&f.Root, store, "FindFiles");
    }
    // Stored forms: line breaks as character 5 on disk, 16 hex digits for times.
    EXPECT_EQ(store.ReadString("FindFiles", "CheckBoxSub", ""), "1");
    EXPECT_EQ(store.ReadString("FindFiles", "ComboBoxKind", ""), "FTP");
    EXPECT_EQ(store.ReadString("FindFiles", "MaskEditTime", "").size(), 16u);
    EXPECT_EQ(store.ReadString("FindFiles", "StringGrid10", "none"), "none");
    EXPECT_NE(store.Text().find("MemoFolders=/home/a\x05/home/b"), std::string::npos) << store.Text();
    EXPECT_NE(store.Text().find("StringGrid10=r0c0\x05r1c0\x05r2c0"), std::string::npos);

    TForm g;
    LoadFormOptions(&g.Root, store, "FindFiles");
    EXPECT_EQ(g.Edit->text(), "*.cpp|*.h");
    EXPECT_EQ(g.Memo->toPlainText(), "/home/a\n/home/b");
    EXPECT_EQ(g.Time->time(), QTime(13, 14, 15));
    EXPECT_EQ(g.Time->displayFormat(), "hh:mm:ss");
    EXPECT_EQ(g.Stamp->dateTime(), QDateTime(QDate(2011, 3, 4), QTime(5, 6, 7)));
    EXPECT_TRUE(g.Check->isChecked());
    EXPECT_TRUE(g.Radio->isChecked());
    EXPECT_EQ(g.Combo->currentIndex(), 2);
    ASSERT_EQ(g.Grid->rowCount(), 3);
    EXPECT_EQ(g.Grid->item(2, 1)->text(), "r2c1");
}

TEST(FormOptions, LoadAcceptsOlderAndOddValues) {
    TQNMemIniFile store("");
    struct Case {
        const char* check;
        bool checked;
        const char* combo;
        int index;
    };
    const Case cases[] = {
        {"", false, "1", 1},        // empty counts as 0; a number is an item index
        {"7", true, "Zip", 1},      // any non-zero integer; otherwise the item with that text
        {"x", false, "zip", 0},     // unparsable; the text match is exact
        {"0", false, "99", 0},      // an index out of range changes nothing
    };
    for (const auto& c : cases) {
        store.WriteString("S", "CheckBoxSub", c.check);
        store.WriteString("S", "ComboBoxKind", c.combo);
        store.WriteString("S", "DateTimePicker1", "03/04/2011 05:06:07 AM");  // date-time text
        TForm f;
        LoadFormOptions(&f.Root, store, "S");
        EXPECT_EQ(f.Check->isChecked(), c.checked) << c.check;
        EXPECT_EQ(f.Combo->currentIndex(), c.index) << c.combo;
        EXPECT_EQ(f.Stamp->dateTime(), QDateTime(QDate(2011, 3, 4), QTime(5, 6, 7)));
    }
}

TEST(FormOptions, DateTimeHexIsTheEightBytesOfTheValue) {
    // 40000.5 as an IEEE double, least significant byte first.
    EXPECT_EQ(DateTimeToHex(40000.5), "000000001088E340");
    EXPECT_EQ(HexToDateTime("000000001088E340"), std::optional<TDateTime>(40000.5));
    EXPECT_EQ(HexToDateTime("00"), std::nullopt);
    EXPECT_EQ(HexToDateTime("FFFFFFFFFFFFFFFF"), std::nullopt);  // not a number
    EXPECT_EQ(DateTimeToQDateTime(40000.5), QDateTime(QDate(2009, 7, 6), QTime(12, 0)));
    EXPECT_DOUBLE_EQ(QDateTimeToDateTime(QDateTime(QDate(1899, 12, 30), QTime(6, 0))), 0.25);
}

TEST(FormOptions, FileFilterInQtForm) {
    struct Case {
        const char* filter;
        const char* qt;
    };
    const Case cases[] = {
        {"Text files|*.txt;*.log|All files|*", "Text files (*.txt *.log);;All files (*)"},
        {"Sync documents (*.fmw)|*.fmw", "Sync documents (*.fmw)"},
        {"|*.zip", "*.zip (*.zip)"},
        {"Odd", "Odd (*)"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(QtFileFilter(c.filter).toStdString(), c.qt) << c.filter;
}

TEST(FormOptions, ForEachSelectedWritesBackAndKeepsSelection) {
    QListWidget list;
    list.setSelectionMode(QAbstractItemView::MultiSelection);
    for (int i = 0; i < 4; ++i) {
        auto* item = new QListWidgetItem(QString("item%1").arg(i), &list);
        item->setData(Qt::UserRole, ObjectVariant(std::make_shared<TTag>(i)));
    }
    list.item(1)->setSelected(true);
    list.item(3)->setSelected(true);
    int visited = ForEachSelected(&list, [](std::string& text, TObjectPtr& obj) {
        text += "!";
        obj = std::make_shared<TTag>(dynamic_cast<TTag*>(obj.get())->Value * 10);
    });
    EXPECT_EQ(visited, 2);
    EXPECT_EQ(list.item(1)->text(), "item1!");
    EXPECT_EQ(list.item(2)->text(), "item2");
    EXPECT_TRUE(list.item(3)->isSelected());
    auto obj = list.item(3)->data(Qt::UserRole).value<TObjectPtr>();
    EXPECT_EQ(dynamic_cast<TTag*>(obj.get())->Value, 30);
}

TEST(FormOptions, FileDialogReturnsTheChosenNameOrNothing) {
    qntest::TTempDir dir;
    qntest::WriteFile(dir / "a.fmw", "");
    for (bool accept : {true, false}) {
        // Answer the dialog once it is up, as a user would.
        QTimer::singleShot(0, [accept] {
            auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(d, nullptr);
            EXPECT_EQ(d->windowTitle(), "Open profile");
            QDialog* box = d;  // accept() is public on the dialog base
            if (accept) box->accept();
            else box->reject();
        });
        std::string name = "a.fmw";
        bool ok = FileDialog(nullptr, "fmw", "Sync documents|*.fmw", true, name, "Open profile", dir.Path());
        EXPECT_EQ(ok, accept);
        EXPECT_EQ(name, accept ? dir / "a.fmw" : std::string("a.fmw"));
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The suite's own dialogs, not a desktop portal's, so a test can answer them.
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
