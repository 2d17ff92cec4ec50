#include "ui/LiveTree.h"

#include <QCache>
#include <QHash>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QStyledItemDelegate>

namespace {

// What a plain cell's picture depends on beside its text; the rest of the option is the same for all such cells.
struct CellKey
{
    QString text;
    QSize size;
    QFont font;
    QRgb textColour = 0;
    QRgb baseColour = 0;
    int state = 0;
    int alignment = 0;
    int elide = 0;
    int direction = 0;
    qreal ratio = 1;
    const QStyle* style = nullptr;

    bool operator==(const CellKey&) const = default;
};

size_t qHash(const CellKey& k, size_t seed = 0)
{
    return qHashMulti(seed, k.text, k.size.width(), k.size.height(), k.font, k.textColour, k.baseColour, k.state,
                      k.alignment, k.elide, k.direction, k.ratio, k.style);
}

// Room for a few thousand cells of a satellite list (4 MB): every text its columns take in a session, so that a
// value seen before is never drawn again.
constexpr int kCachePixels = 1 << 20;
constexpr qsizetype kMaxSizes = 4096;

// Where a branch of the tree runs; the cell itself is drawn alike whatever these say.
constexpr QStyle::State kBranchStates =
    QStyle::State_Sibling | QStyle::State_Children | QStyle::State_Open | QStyle::State_Item;

}  // namespace

class CCellPixmapDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // The view asks for the first row's size at every change there.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // Pictures in an old font, palette or style are never asked for again.
    void Forget()
    {
        m_pictures.clear();
        m_sizes.clear();
    }

    // The part of the viewport being repainted, while a repaint runs; nothing outside it reaches the screen.
    const QRegion* m_repaint = nullptr;

private:
    // False when the cell is drawn directly: selected, focused, hovered, checkable, with an icon or a background of
    // its own, or painted through a scaling transform. Such cells are few, and their picture would depend on what
    // lies under them.
    static bool MakeKey(const QStyleOptionViewItem& opt, const QPainter* painter, CellKey& key);

    mutable QCache<CellKey, QPixmap> m_pictures{kCachePixels};
    mutable QHash<CellKey, QSize> m_sizes;
};

bool CCellPixmapDelegate::MakeKey(const QStyleOptionViewItem& opt, const QPainter* painter, CellKey& key)
{
    const QStyle::State excluded = QStyle::State_Selected | QStyle::State_HasFocus | QStyle::State_MouseOver;
    const QStyleOptionViewItem::ViewItemFeatures features =
        QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDecoration |
        QStyleOptionViewItem::Alternate | QStyleOptionViewItem::WrapText;
    const QBrush& base = opt.palette.brush(QPalette::Base);
    const qreal ratio = painter ? painter->device()->devicePixelRatio() : 1;
    if (!opt.widget || (opt.state & excluded) || (opt.features & features) ||
        opt.backgroundBrush.style() != Qt::NoBrush || base.style() != Qt::SolidPattern || !base.isOpaque() ||
        (painter && (opt.rect.isEmpty() || painter->worldTransform().type() > QTransform::TxTranslate ||
                     opt.rect.width() * opt.rect.height() * ratio * ratio > kCachePixels / 64))) {
        return false;
    }
    key.text = opt.text;
    key.font = opt.font;
    key.style = opt.widget->style();
    if (painter) {
        key.size = opt.rect.size();
        key.textColour = opt.palette.color(QPalette::Text).rgba();
        key.baseColour = base.color().rgba();
        key.state = int(opt.state & ~kBranchStates);
        key.alignment = int(opt.displayAlignment);
        key.elide = int(opt.textElideMode);
        key.direction = int(opt.direction);
        key.ratio = ratio;
    }
    return true;
}

void CCellPixmapDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    if (m_repaint && !m_repaint->intersects(option.rect)) {
        return;
    }
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    CellKey key;
    if (!MakeKey(opt, painter, key)) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const QPixmap* picture = m_pictures.object(key);
    if (!picture) {
        // Drawn as the plain delegate draws it, on the view's own background: an opaque picture blends with
        // nothing, so it gives the same pixels wherever it is put.
        auto* made = new QPixmap(opt.rect.size() * key.ratio);
        made->setDevicePixelRatio(key.ratio);
        made->fill(opt.palette.color(QPalette::Base));
        {
            QPainter p(made);
            p.setRenderHints(painter->renderHints());
            QStyleOptionViewItem at = opt;
            at.rect.moveTo(0, 0);
            key.style->drawControl(QStyle::CE_ItemViewItem, &at, &p, opt.widget);
        }
        m_pictures.insert(key, made, made->width() * made->height());
        picture = made;
    }
    painter->drawPixmap(opt.rect.topLeft(), *picture);
}

QSize CCellPixmapDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    if (index.data(Qt::SizeHintRole).isValid()) {
        return QStyledItemDelegate::sizeHint(option, index);
    }
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    CellKey key;
    if (!MakeKey(opt, nullptr, key)) {
        return QStyledItemDelegate::sizeHint(option, index);
    }
    if (const auto found = m_sizes.constFind(key); found != m_sizes.cend()) {
        return *found;
    }
    if (m_sizes.size() >= kMaxSizes) {
        m_sizes.clear();
    }
    const QSize size = key.style->sizeFromContents(QStyle::CT_ItemViewItem, &opt, QSize(), opt.widget);
    m_sizes.insert(key, size);
    return size;
}

CLiveTree::CLiveTree(QWidget* parent) : QTreeWidget(parent), m_delegate(new CCellPixmapDelegate(this))
{
    setItemDelegate(m_delegate);
}

void CLiveTree::paintEvent(QPaintEvent* event)
{
    // The tree paints every column of each row a repaint of several parts touches.
    m_delegate->m_repaint = &event->region();
    QTreeWidget::paintEvent(event);
    m_delegate->m_repaint = nullptr;
}

void CLiveTree::changeEvent(QEvent* event)
{
    QTreeWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange ||
        event->type() == QEvent::StyleChange) {
        m_delegate->Forget();
    }
}
