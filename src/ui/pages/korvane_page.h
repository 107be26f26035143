#pragma once
// A page of the main window's property sheet: its background bitmap painted at the top-left
// corner, the layout that runs at initialisation and again on a resize (only while the page
// fills its parent), the page refresh the main window calls on tab and page changes, and the
// progress messages of the background operation the page owns.
#include <QPixmap>
#include <QWidget>
#include <cstdint>

namespace tarvex::ui {

class CKorvanePage : public QWidget {
    Q_OBJECT
public:
    // `caption` is the page's tab caption (the main window's title label shows it).
    CKorvanePage(int templateId, int backgroundId, QString caption, QWidget* parent = nullptr);

    // Called once by the property sheet after it has made the page: loads the background
    // ("Error Loading Bitmap!!" when it is missing), then the page's own initialisation.
    void InitPage();
    [[nodiscard]] bool Initialised() const { return initialised_; }

    // Reloads what the page shows for the selected drive.
    virtual void RefreshPage() {}

    // The operation kind and the END result word in the thread data of a progress message,
    // read through the record this page defines; 0 on pages that define none.
    [[nodiscard]] virtual int OperationKindOf(intptr_t threadData) const;
    [[nodiscard]] virtual int ResultOf(intptr_t threadData) const;
    // A progress message the main window forwards: code 1..3, the thread data, the value.
    virtual void OnProgress(int code, intptr_t threadData, int value);

    [[nodiscard]] int TemplateId() const { return templateId_; }
    [[nodiscard]] const QString& Caption() const { return caption_; }
    [[nodiscard]] const QPixmap& Background() const { return background_; }

protected:
    virtual void OnInitDialog() {}
    // Places the controls (client coordinates of the page).
    virtual void Layout() {}

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int templateId_;
    int backgroundId_;
    QString caption_;
    QPixmap background_;
    bool initialised_ = false;
};

}  // namespace tarvex::ui
