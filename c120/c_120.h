#pragma once
// Tc_120, the C120 editor window: twelve channels, read, coin test, coin
// teach, hand edit of a channel, outputs, models, checksum repair. Every
// transfer is a c120 link operation on the station.
#include "c120/channel_window.h"

namespace zuna {

class Tc_120 : public ChannelWindow {
    Q_OBJECT
public:
    explicit Tc_120(Shell& shell, QWidget* parent = nullptr);

    void FormActivate() override;
    void Button1Click() override;
    void Button2Click() override;
    void Button3Click() override;
    void Button4Click() override;
    void Button5Click() override;
    void okClick() override;
    void cc_okClick() override;
    void BitBtn3Click() override;
    void SpeedButton1Click() override;

    void done(int r) override;

protected:
    std::array<uint8_t, 6> bounds(int c) const override;
    QString output_label(int c) const override;
    bool output_known(int c) const override;

private:
    void init_c();
    bool ready() override;

    int ajust_channel_ = 1;
    bool closed_ = false;
};

} // namespace zuna
