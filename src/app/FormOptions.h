// Services of the manager's unit that work on windows: saving and loading the state of a
// form's controls in a settings store, the file dialog, and iterating a list box.
#pragma once

#include "common/DateUtils.h"
#include "common/QNStringList.h"

#include <QDateTime>
#include <QVariant>

#include <functional>
#include <string>

class QWidget;
class QListWidget;
class TCustomIniFile;

// Every named control of Form (its objectName) becomes one value in Section: edit boxes
// their text (line breaks as the character 5), time edits and date-time pickers their
// date-time as 16 hexadecimal digits (the 8 bytes of the value, least significant first),
// check boxes and radio buttons "1" or "0", combo boxes the text of the selected item.
// A table writes one value per column, named after the table and the 0-based column,
// into the section "QuennickComponents" with the column's cells joined by the character 5.
void SaveFormOptions(QWidget* form, TCustomIniFile& store, const std::string& section);
void LoadFormOptions(QWidget* form, const TCustomIniFile& store, const std::string& section);

// The 16 hexadecimal digits of a date-time value, and back (nullopt for other text).
std::string DateTimeToHex(TDateTime value);
std::optional<TDateTime> HexToDateTime(std::string_view hex);
TDateTime QDateTimeToDateTime(const QDateTime& dt);
QDateTime DateTimeToQDateTime(TDateTime value);

// Turns a filter written as "Text files|*.txt;*.log|All files|*" into Qt's form
// ("Text files (*.txt *.log);;All files (*)").
QString QtFileFilter(const std::string& filter);

// The open (Open = true) or save dialog. FileName holds the starting name and receives the
// chosen one; title, initial folder and default extension apply only when not empty.
bool FileDialog(QWidget* owner, const std::string& defaultExt, const std::string& filter,
                bool open, std::string& fileName, const std::string& title,
                const std::string& initialDir);

// Calls Callback for every selected item of List with the item's text and attached object
// (kept in the item's user data); changed values are written back and the item stays
// selected. Returns the number of items visited.
using TListItemCallback = std::function<void(std::string& text, TObjectPtr& obj)>;
int ForEachSelected(QListWidget* list, const TListItemCallback& callback);
// Attaches an object to a list item.
QVariant ObjectVariant(const TObjectPtr& obj);
