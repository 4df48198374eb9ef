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

class ISyncPrompter {
public:
    virtual ~ISyncPrompter() = default;
    // A message with an OK button.
    virtual void ShowMessage(const std::string& text) = 0;
    // A standard message dialog; the answer is the button pressed.
    virtual TMsgDlgBtn MessageDlg(const std::string& text, TMsgDlgType type,
                                  const TMsgDlgButtons& buttons) = 0;
    // The file dialog: the chosen path, or empty when the user cancelled. The dialog does
    // not ask about overwriting; the document asks itself.
    virtual std::string PromptFileName(const TSyncFileDialog& dialog) = 0;
    // Text for the status bar.
    virtual void ShowStatus(const std::string& text) = 0;
};
