#include "platform/linux/screen_grabber.h"

#include <xcb/shm.h>

#include <sys/ipc.h>
#include <sys/shm.h>

namespace tavoro::platform {

namespace {

constexpr std::uint32_t allPlanes = ~0u;

bool hasBgrxPixels(const X11Connection& connection)
{
    const auto* setup = xcb_get_setup(connection.get());
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) {
        return false;
    }
    const auto depth = connection.screen().root_depth;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem > 0; xcb_format_next(&it)) {
        if (it.data->depth == depth) {
            return it.data->bits_per_pixel == 32 && (depth == 24 || depth == 32);
        }
    }
    return false;
}

// A System V shared memory segment mapped into this process; the X server maps it too once attached.
class SharedSegment {
public:
    explicit SharedSegment(std::size_t size)
    {
        id_ = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
        if (id_ < 0) {
            return;
        }
        void* address = shmat(id_, nullptr, 0);
        address_ = address == reinterpret_cast<void*>(-1) ? nullptr : static_cast<std::uint8_t*>(address);
    }
    ~SharedSegment()
    {
        if (address_) {
            shmdt(address_);
        }
        markForRemoval();
    }
    SharedSegment(const SharedSegment&) = delete;
    SharedSegment& operator=(const SharedSegment&) = delete;

    bool valid() const { return address_ != nullptr; }
    int id() const { return id_; }
    std::uint8_t* address() const { return address_; }
    // The segment disappears once the last process detaches from it.
    void markForRemoval()
    {
        if (id_ >= 0) {
            shmctl(id_, IPC_RMID, nullptr);
            id_ = -1;
        }
    }

private:
    int id_ = -1;
    std::uint8_t* address_ = nullptr;
};

class ShmGrabber final : public ScreenGrabber {
public:
    ShmGrabber(const X11Connection& connection, const DisplayRect& area)
        : connection_(connection), area_(area), segment_(byteSize(area))
    {
        if (!segment_.valid()) {
            return;
        }
        seg_ = xcb_generate_id(connection.get());
        attached_ = succeeded(connection.get(), xcb_shm_attach_checked(connection.get(), seg_, segment_.id(), 0));
        segment_.markForRemoval();
    }
    ~ShmGrabber() override
    {
        if (attached_) {
            xcb_shm_detach(connection_.get(), seg_);
            xcb_flush(connection_.get());
        }
    }

    bool ready() const { return attached_; }

    std::optional<ImageView> grab() override
    {
        auto reply = takeReply(xcb_shm_get_image_reply, connection_.get(),
            xcb_shm_get_image(connection_.get(), connection_.root(), static_cast<std::int16_t>(area_.x),
                static_cast<std::int16_t>(area_.y), static_cast<std::uint16_t>(area_.width),
                static_cast<std::uint16_t>(area_.height), allPlanes, XCB_IMAGE_FORMAT_Z_PIXMAP, seg_, 0));
        if (!reply) {
            return std::nullopt;
        }
        return ImageView{segment_.address(), area_.width * 4, area_.width, area_.height};
    }

private:
    static std::size_t byteSize(const DisplayRect& area)
    {
        return static_cast<std::size_t>(area.width) * static_cast<std::size_t>(area.height) * 4;
    }

    const X11Connection& connection_;
    DisplayRect area_;
    SharedSegment segment_;
    xcb_shm_seg_t seg_ = 0;
    bool attached_ = false;
};

class GetImageGrabber final : public ScreenGrabber {
public:
    GetImageGrabber(const X11Connection& connection, const DisplayRect& area) : connection_(connection), area_(area) {}

    std::optional<ImageView> grab() override
    {
        reply_ = takeReply(xcb_get_image_reply, connection_.get(),
            xcb_get_image(connection_.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, connection_.root(),
                static_cast<std::int16_t>(area_.x), static_cast<std::int16_t>(area_.y),
                static_cast<std::uint16_t>(area_.width), static_cast<std::uint16_t>(area_.height), allPlanes));
        const auto expected = static_cast<std::size_t>(area_.width) * static_cast<std::size_t>(area_.height) * 4;
        if (!reply_ || static_cast<std::size_t>(xcb_get_image_data_length(reply_.get())) < expected) {
            return std::nullopt;
        }
        return ImageView{xcb_get_image_data(reply_.get()), area_.width * 4, area_.width, area_.height};
    }

private:
    const X11Connection& connection_;
    DisplayRect area_;
    XcbReply<xcb_get_image_reply_t> reply_;
};

} // namespace

Result<std::unique_ptr<ScreenGrabber>> makeScreenGrabber(const X11Connection& connection, const DisplayRect& area,
    GrabMethod preferred)
{
    if (!hasBgrxPixels(connection)) {
        return Failure{"不支持的 X 像素格式（需要 24 或 32 位色深、每像素 32 位、小端）"};
    }
    if (preferred == GrabMethod::sharedMemory && connection.hasExtension(xcb_shm_id)) {
        auto shm = std::make_unique<ShmGrabber>(connection, area);
        if (shm->ready()) {
            return shm;
        }
    }
    return std::make_unique<GetImageGrabber>(connection, area);
}

} // namespace tavoro::platform
