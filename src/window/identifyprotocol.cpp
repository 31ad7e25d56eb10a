#include "identifyprotocol.h"

#include "usbwindow.h"

#include <cmath>

namespace {

// The data-line limits are single-precision numbers compared with the
// double readings. That decides one millivolt step: 0.300 V lies below 0.3f
// and so fails every "at least 0.3" test, while 0.301 V passes.
constexpr float kLine02 = 0.2f;
constexpr float kLine03 = 0.3f;
constexpr float kLine105 = 1.05f;
constexpr float kLine135 = 1.35f;
constexpr float kLine22 = 2.2f;
constexpr float kLine29 = 2.9f;

// VBUS windows, inclusive at both ends.
bool in5V(double v)
{
    return v >= 4.0 && v <= 6.0;
}
bool in9V(double v)
{
    return v >= 8.0 && v <= 10.0;
}
bool in12V(double v)
{
    return v >= 11.0 && v <= 13.0;
}
bool in20V(double v)
{
    return v >= 19.0 && v <= 21.0;
}

} // namespace

uint8_t identifyProtocol(double _Dp, double _Dm, double _vol)
{
    uint8_t main = UsbWindow::UNKNOWN;
    uint8_t second = UsbWindow::UNKNOWN;
    const double diff = std::fabs(_Dp - _Dm);

    auto found = [&](UsbWindow::PROTOCOL_IDENTITY_E m, UsbWindow::PROTOCOL_IDENTITY_E s) {
        main = m;
        second = s;
    };

    // Exactly one D+ band is tried; inside it the D- range is chosen first,
    // then VBUS decides. A band whose rules all fail leaves nothing.
    if (_Dp <= kLine02) {
        if (_Dm <= kLine02)
            found(UsbWindow::DCP_1_5A, UsbWindow::USB_2_HIGH);
    } else if (_Dp >= kLine03 && _Dp <= 1.0) {
        if (_Dm <= kLine02) {
            if (in5V(_vol))
                found(UsbWindow::HUAWEI_SCP, UsbWindow::QC2_0_5V);
            else if (in9V(_vol))
                found(UsbWindow::HUAWEI_SCP, UsbWindow::FCP_AFC_9V);
            else if (in12V(_vol))
                found(UsbWindow::FCP_AFC_12V, UsbWindow::UNKNOWN);
        } else if (_Dm >= kLine03 && _Dm <= 1.0) {
            if (in12V(_vol))
                found(UsbWindow::QC2_0_12V, UsbWindow::UNKNOWN);
            else if (in5V(_vol))
                found(UsbWindow::HUAWEI_SCP, UsbWindow::DCP_1_5A);
        } else if (_Dm > kLine29) {
            if (_vol <= 11.0)
                found(UsbWindow::HUAWEI_SCP, UsbWindow::QC3_0);
            else
                found(UsbWindow::QC3_0, UsbWindow::UNKNOWN);
        } else {
            if (_vol <= 11.0)
                found(UsbWindow::HUAWEI_SCP, UsbWindow::UNKNOWN);
        }
    } else if (_Dp >= kLine105 && _Dp <= kLine135) {
        if (_Dm >= kLine105 && _Dm <= kLine135)
            found(UsbWindow::SAMSUNG2_0A, UsbWindow::DCP_1_5A);
    } else if (_Dp > kLine22 && _Dp <= kLine29) {
        if (_Dm > kLine22 && _Dm <= kLine29) {
            if (in5V(_vol))
                found(UsbWindow::APPLE_2_4A, UsbWindow::DCP_1_5A);
            else if (_vol > 6.0)
                found(UsbWindow::PD_MTK, UsbWindow::UNKNOWN);
        } else if (_Dm >= 1.5 && _Dm <= kLine22) {
            found(UsbWindow::APPLE_2_1A, UsbWindow::UNKNOWN);
        }
    } else if (_Dp > kLine29) {
        if (_Dm <= kLine02) {
            found(UsbWindow::USB_2_FULL, UsbWindow::DCP_1_5A);
        } else if (_Dm >= kLine03 && _Dm <= 1.0) {
            if (in9V(_vol))
                found(UsbWindow::QC2_0_9V, UsbWindow::UNKNOWN);
        } else if (_Dm > kLine29) {
            if (in20V(_vol))
                found(UsbWindow::QC2_0_20V, UsbWindow::UNKNOWN);
        }
    } else {
        // Between the bands: only two data lines close together count.
        if (diff <= kLine02) {
            if (in5V(_vol))
                found(UsbWindow::DCP_1_5A, UsbWindow::UNKNOWN);
            else if (_vol > 6.0)
                found(UsbWindow::PD_MTK, UsbWindow::UNKNOWN);
        }
    }

    if (main == UsbWindow::UNKNOWN && _vol > 6.0)
        main = UsbWindow::PD_MTK;

    return static_cast<uint8_t>((main << 4) | (second & 0x0F));
}
