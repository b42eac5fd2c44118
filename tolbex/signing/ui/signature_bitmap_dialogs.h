// Options > Signature Settings: "Edit Signature Bitmaps" keeps the list of which account signs
// with which bitmap (tolbex/signing/signature_bitmaps.h) and saves it after every change; its
// "Add"/"Change" sub-dialog takes one account and one bitmap file.
#pragma once
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "framework/qt/dialog.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace tv::gui {

inline constexpr const char* kInvalidUserText =
    "Please enter a valid user name.\nThe user must be able to log on to this computer.";
inline constexpr const char* kNoBitmapNameText = "Please enter a signature BMP filename.";
inline constexpr const char* kBitmapNotFoundText = "Unable to find signature BMP file : %s";
inline constexpr const char* kUserHasBitmapText =
    "This user already has a signature BMP file.\nPlease enter a different user name.";
inline constexpr const char* kNotABmpText = "Please select a BMP file.";
inline constexpr const char* kSelectUserToDeleteText = "Please select the user whose signature BMP you want to delete.";
inline constexpr const char* kConfirmDeleteText = "Are you sure you want to remove the signature BMP for %s ?";

// "Add New User Signature BMP" / "Edit User Signature BMP": logon name (1561, editable only when
// adding) and bitmap path (1562), with Browse (1563).
class EditSignatureDlg : public fw::Dialog {
public:
    EditSignatureDlg(bool adding, std::vector<std::string> known_names, QWidget* parent = nullptr);
    QLineEdit* name_edit() const { return name_; }
    QLineEdit* path_edit() const { return path_; }
    std::string logon_name() const;
    std::string bitmap_path() const;
    void set_values(const std::string& logon_name, const std::string& bitmap_path);
    void on_init_dialog() override;
    void on_ok() override;
    void on_browse();

private:
    bool adding_;
    std::vector<std::string> known_;
    QLineEdit* name_;
    QLineEdit* path_;
};

// "Edit Signature Bitmaps": logon names (1559), the selected one's bitmap (1560), Add (1556),
// Change (1557), Delete (1558).
class EditSignatureBitmapsDlg : public fw::Dialog {
public:
    explicit EditSignatureBitmapsDlg(QWidget* parent = nullptr);
    QComboBox* names_box() const { return names_; }
    const std::string& preview_path() const { return preview_path_; }
    void on_init_dialog() override;
    void select(int index);
    void on_add() { add_or_change(true); }
    void on_change() { add_or_change(false); }
    void on_delete();

private:
    void add_or_change(bool adding);
    void save();
    std::vector<std::string> names() const;

    std::map<std::string, std::string> files_;  // logon name -> bitmap file name
    std::string preview_path_;
    QComboBox* names_;
    QLabel* preview_;
};

}  // namespace tv::gui
