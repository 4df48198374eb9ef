#include "app/FormOptions.h"

#include "common/QNMemIniFile.h"
#include "common/QNStringUtils.h"
#include "common/ifutils.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimeEdit>

#include <bit>
#include <cmath>

namespace {

const char* const GridSection = "QuennickComponents";
const QDate DateTimeEpoch(1899, 12, 30);

std::string ToStore(const QString& text) {
    std::string s = text.toStdString();
    std::string r;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
        r += (s[i] == '\n' || s[i] == '\r') ? '\x05' : s[i];
    }
    return r;
}

// Stores hand a stored line break back as the character 5 or as CR LF; both become one
// character 5 here.
std::string Unify(const std::string& s) {
    std::string r;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
        r += (s[i] == '\r' || s[i] == '\n') ? '\x05' : s[i];
    }
    return r;
}

QString FromStore(const std::string& s) {
    std::string r = Unify(s);
    for (char& c : r)
        if (c == '\x05') c = '\n';
    return QString::fromStdString(r);
}

// The controls whose state a form keeps: every named one except the parts of a combo box
// or spin box (their line edit belongs to that control) and Qt's own inner widgets.
std::vector<QWidget*> NamedControls(QWidget* form) {
    std::vector<QWidget*> r;
    for (QWidget* w : form->findChildren<QWidget*>()) {
        QString name = w->objectName();
        if (name.isEmpty() || name.startsWith("qt_")) continue;
        QWidget* parent = w->parentWidget();
        if (qobject_cast<QLineEdit*>(w) &&
            (qobject_cast<QComboBox*>(parent) || qobject_cast<QAbstractSpinBox*>(parent)))
            continue;
        r.push_back(w);
    }
    return r;
}

std::string Name(const QObject* o) { return o->objectName().toStdString(); }

}  // namespace

std::string DateTimeToHex(TDateTime value) {
    uint64_t bits = std::bit_cast<uint64_t>(value);
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = uint8_t(bits >> (8 * i));
    return BufferToHex(std::span<const uint8_t>(bytes, 8));
}

std::optional<TDateTime> HexToDateTime(std::string_view hex) {
    if (hex.size() != 16) return std::nullopt;
    uint8_t bytes[8] = {};
    HexToBuffer(hex, std::span<uint8_t>(bytes, 8), 8);
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= uint64_t(bytes[i]) << (8 * i);
    double v = std::bit_cast<double>(bits);
    if (!std::isfinite(v)) return std::nullopt;
    return v;
}

TDateTime QDateTimeToDateTime(const QDateTime& dt) {
    return double(DateTimeEpoch.daysTo(dt.date())) + dt.time().msecsSinceStartOfDay() / 86400000.0;
}

QDateTime DateTimeToQDateTime(TDateTime value) {
    double days = std::floor(value);
    int ms = int(std::lround((value - days) * 86400000.0));
    if (ms >= 86400000) {
        days += 1;
        ms -= 86400000;
    }
    return QDateTime(DateTimeEpoch.addDays(qint64(days)), QTime::fromMSecsSinceStartOfDay(ms));
}

void SaveFormOptions(QWidget* form, TCustomIniFile& store, const std::string& section) {
    for (QWidget* w : NamedControls(form)) {
        std::string name = Name(w);
        if (auto* e = qobject_cast<QLineEdit*>(w)) {
            store.WriteString(section, name, ToStore(e->text()));
        } else if (auto* m = qobject_cast<QPlainTextEdit*>(w)) {
            store.WriteString(section, name, ToStore(m->toPlainText()));
        } else if (auto* t = qobject_cast<QTimeEdit*>(w)) {
            store.WriteString(section, name, DateTimeToHex(t->time().msecsSinceStartOfDay() / 86400000.0));
        } else if (auto* d = qobject_cast<QDateTimeEdit*>(w)) {
            store.WriteString(section, name, DateTimeToHex(QDateTimeToDateTime(d->dateTime())));
        } else if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)) {
            store.WriteString(section, name, static_cast<QAbstractButton*>(w)->isChecked() ? "1" : "0");
        } else if (auto* c = qobject_cast<QComboBox*>(w)) {
            store.WriteString(section, name, c->currentIndex() >= 0 ? c->currentText().toStdString() : "");
        } else if (auto* g = qobject_cast<QTableWidget*>(w)) {
            for (int col = 0; col < g->columnCount(); ++col) {
                std::string joined;
                for (int row = 0; row < g->rowCount(); ++row) {
                    if (row) joined += '\x05';
                    QTableWidgetItem* item = g->item(row, col);
                    if (item != nullptr) joined += item->text().toStdString();
                }
                store.WriteString(GridSection, name + IntToStr(col), joined);
            }
        }
    }
}

void LoadFormOptions(QWidget* form, const TCustomIniFile& store, const std::string& section) {
    for (QWidget* w : NamedControls(form)) {
        std::string name = Name(w);
        if (auto* e = qobject_cast<QLineEdit*>(w)) {
            e->setText(FromStore(store.ReadString(section, name, e->text().toStdString())));
        } else if (auto* m = qobject_cast<QPlainTextEdit*>(w)) {
            m->setPlainText(FromStore(store.ReadString(section, name, m->toPlainText().toStdString())));
        } else if (auto* t = qobject_cast<QTimeEdit*>(w)) {
            auto v = HexToDateTime(store.ReadString(section, name, "0000000000000000"));
            double frac = v ? *v - std::floor(*v) : 0.0;
            t->setDisplayFormat("hh:mm:ss");
            t->setTime(QTime::fromMSecsSinceStartOfDay(int(std::lround(frac * 86400000.0)) % 86400000));
        } else if (auto* d = qobject_cast<QDateTimeEdit*>(w)) {
            std::string s = store.ReadString(section, name, "");
            if (s.empty()) continue;
            std::optional<TDateTime> v = s.size() == 16 ? HexToDateTime(s) : TryStrToDateTime(s);
            if (v) d->setDateTime(DateTimeToQDateTime(*v));
        } else if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)) {
            std::string s = store.ReadString(section, name, "0");
            static_cast<QAbstractButton*>(w)->setChecked(StrToIntDef(s.empty() ? "0" : s, 0) != 0);
        } else if (auto* c = qobject_cast<QComboBox*>(w)) {
            std::string s = store.ReadString(section, name, "");
            if (auto index = TryStrToInt64(s)) {
                if (*index >= -1 && *index < c->count()) c->setCurrentIndex(int(*index));
            } else {
                int i = c->findText(QString::fromStdString(s), Qt::MatchExactly | Qt::MatchCaseSensitive);
                if (i >= 0) c->setCurrentIndex(i);
            }
        } else if (auto* g = qobject_cast<QTableWidget*>(w)) {
            std::vector<TQNStringList> columns(size_t(g->columnCount()));
            int rows = 0;
            for (int col = 0; col < g->columnCount(); ++col) {
                std::string v = Unify(store.ReadString(GridSection, name + IntToStr(col), ""));
                QNStringUtils().Split(v, columns[size_t(col)], "\x05");
                rows = std::max(rows, columns[size_t(col)].Count());
            }
            g->setRowCount(rows);
            for (int col = 0; col < g->columnCount(); ++col)
                for (int row = 0; row < columns[size_t(col)].Count(); ++row)
                    g->setItem(row, col, new QTableWidgetItem(QString::fromStdString(columns[size_t(col)][row])));
        }
    }
}

QString QtFileFilter(const std::string& filter) {
    TQNStringList parts;
    QNStringUtils().Split(filter, parts, "|");
    QStringList filters;
    for (int i = 0; i < parts.Count(); i += 2) {
        QString desc = QString::fromStdString(parts[i]).trimmed();
        QString patterns = i + 1 < parts.Count() ? QString::fromStdString(parts[i + 1]) : "*";
        // A description that already names its patterns in brackets keeps only the words.
        if (desc.endsWith(')') && desc.contains('(')) desc = desc.left(desc.lastIndexOf('(')).trimmed();
        if (desc.isEmpty()) desc = patterns;
        filters << desc + " (" + patterns.split(';', Qt::SkipEmptyParts).join(' ') + ")";
    }
    return filters.join(";;");
}

bool FileDialog(QWidget* owner, const std::string& defaultExt, const std::string& filter,
                bool open, std::string& fileName, const std::string& title,
                const std::string& initialDir) {
    QFileDialog dialog(owner);
    dialog.setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    if (!filter.empty()) dialog.setNameFilter(QtFileFilter(filter));
    if (!title.empty()) dialog.setWindowTitle(QString::fromStdString(title));
    if (!initialDir.empty()) dialog.setDirectory(QString::fromStdString(initialDir));
    if (!defaultExt.empty()) dialog.setDefaultSuffix(QString::fromStdString(defaultExt));
    if (!fileName.empty()) dialog.selectFile(QString::fromStdString(fileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    fileName = dialog.selectedFiles().first().toStdString();
    return true;
}

QVariant ObjectVariant(const TObjectPtr& obj) { return QVariant::fromValue(obj); }

int ForEachSelected(QListWidget* list, const TListItemCallback& callback) {
    int visited = 0;
    for (int i = 0; i < list->count(); ++i) {
        QListWidgetItem* item = list->item(i);
        if (!item->isSelected()) continue;
        std::string text = item->text().toStdString();
        TObjectPtr obj = item->data(Qt::UserRole).value<TObjectPtr>();
        callback(text, obj);
        item->setText(QString::fromStdString(text));
        item->setData(Qt::UserRole, QVariant::fromValue(obj));
        item->setSelected(true);
        ++visited;
    }
    return visited;
}
