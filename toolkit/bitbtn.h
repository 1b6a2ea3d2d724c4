#pragma once

#include <QImage>
#include <QPixmap>
#include <QPushButton>

namespace toolkit {

// A push button with a small picture left of its caption. Never a default
// button: Enter and Escape press nothing. The caption is shown as written,
// '&' included, and gives the button no access key.
class BitBtn : public QPushButton
{
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText)
    Q_PROPERTY(int numGlyphs READ numGlyphs WRITE setNumGlyphs)
public:
    explicit BitBtn(QWidget *parent = nullptr);

    // Hides QAbstractButton::setText, which would turn "&x" into an access key.
    void setText(const QString &text);
    QString text() const { return QPushButton::text(); }

    // The picture; the colour of its bottom-left pixel is transparent.
    void setGlyph(const QImage &glyph);
    QImage glyph() const { return m_glyph; }
    // 1: one picture, drawn greyed when disabled. 2: two pictures side by
    // side, the left for enabled and the right for disabled.
    void setNumGlyphs(int count);
    int numGlyphs() const { return m_numGlyphs; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Gap between the picture and the caption.
    static constexpr int Spacing = 4;

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool event(QEvent *event) override;

private:
    void prepareGlyphs();
    QSize glyphSize() const;

    QImage m_glyph;
    int m_numGlyphs = 1;
    QPixmap m_enabled;
    QPixmap m_disabled;
};

} // namespace toolkit
