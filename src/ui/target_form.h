// The form of one publish target, a page per kind (S3 compatible, SFTP, FTP/FTPS, WebDAV), each
// with the target's name and public address. It shows a target URL and composes one from what is
// typed (publish::TargetUrl); the typed secret is kept apart, for the keyring, never in the URL.
#pragma once

#include <QWidget>
#include <optional>
#include <string>

class QComboBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QStackedWidget;

namespace zembrat::ui {

class TargetForm : public QWidget {
    Q_OBJECT
  public:
    explicit TargetForm(QWidget* parent = nullptr);

    // Shows the target of url (UTF-8), its secret field empty; false when url is no target's.
    bool Show(const std::string& url);
    // Empties the form for a new target of the kind shown.
    void Clear();
    // The target URL (UTF-8) the form gives; nullopt with error set (GBK, Chinese) when it gives
    // none.
    std::optional<std::string> Url(std::string& error) const;
    // What is typed in the secret field of the kind shown (UTF-8); empty: nothing typed.
    std::string Secret() const;

  signals:
    // The user changed something.
    void edited();

  private:
    QLineEdit* Field(const char* name, bool secret = false);

    QComboBox* kind_;
    QStackedWidget* pages_;
    QLineEdit *name_, *public_;
    QLineEdit *s3Endpoint_, *s3Bucket_, *s3Prefix_, *s3Region_, *s3KeyId_, *s3Secret_;
    QComboBox* s3Style_;
    QLineEdit *sftpHost_, *sftpUser_, *sftpFolder_, *sftpKeyFile_;
    QSpinBox *sftpPort_, *ftpPort_;
    QRadioButton *sftpAgent_, *sftpKey_;
    QComboBox* ftpSecurity_;
    QLineEdit *ftpHost_, *ftpUser_, *ftpFolder_, *ftpPassword_;
    QLineEdit *davUrl_, *davUser_, *davPassword_;
};

}  // namespace zembrat::ui
