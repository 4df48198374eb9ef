// What the sync documents and profile checks need to ask or tell the user.
//
// The sync window answers with its message boxes, file dialog and status bar; tests
// answer with scripted replies. Nothing here includes a window library.
#pragma once

#include "common/EngineContract.h"

#include <string>

// The file dialog a document command asks for.
struct TSyncFileDialog {
    std::string Title;       // "Save File Mirrowyn File"
    std::string Filter;      // "File Mirrowyn|*.fmw; *.qns"
    std::string DefaultExt;  // "fmw", without the dot
    std::string InitialDir;  // the document's folder, empty for the dialog's own choice
};

// What a question of the sync unit is about, so that a prompter without a user (the
// command line without a terminal) can give the answer that loses nothing, whatever the
// question's wording.
enum class TSyncQuestion {
    Other,
    PreviewContinue,       // go on after the previews (OK/Cancel)
    DestinationNewer,      // back the newer destination up first? (Yes/No/Cancel)
    BothChanged,           // both changed: back the destination up? (Yes/No)
    LargeDeletion,         // delete a large number of files? (OK/Cancel)
    NewerDocument,         // use a document of a newer version? (Yes/No)
    OverwriteDocument,     // overwrite an existing file with the document? (Yes/No)
    SaveChanges,           // save the document's changes? (Yes/No/Cancel)
    DestinationIsFolder,   // put a "/" at the end of the destination? (Yes/No)
};

class ISyncPrompter {
public:
    virtual ~ISyncPrompter() = default;
    // A message with an OK button.
    virtual void ShowMessage(const std::string& text) = 0;
    // A standard message dialog; the answer is the button pressed.
    virtual TMsgDlgBtn MessageDlg(const std::string& text, TMsgDlgType type,
                                  const TMsgDlgButtons& buttons) = 0;
    // A question of the given kind; the sync unit asks every question through this. A
    // prompter with a user shows it as a message dialog.
    virtual TMsgDlgBtn Ask(TSyncQuestion, const std::string& text, TMsgDlgType type,
                           const TMsgDlgButtons& buttons) {
        return MessageDlg(text, type, buttons);
    }
    // The file dialog: the chosen path, or empty when the user cancelled. The dialog does
    // not ask about overwriting; the document asks itself.
    virtual std::string PromptFileName(const TSyncFileDialog& dialog) = 0;
    // Text for the status bar.
    virtual void ShowStatus(const std::string& text) = 0;
};
