#pragma once
// The C220B windows: Tc220b (sixteen channels, its own link for words and
// commands, the C120 link for rest states and coin answers), its teach
// Tcalibrate_c220 and its validation Tvalid_c220.
#include "c120/calibrate.h"
#include "c120/channel_window.h"

namespace zuna {

class Tc220b : public ChannelWindow {
    Q_OBJECT
public:
    explicit Tc220b(Shell& shell, QWidget* parent = nullptr);

    void FormActivate() override;
    void Button1Click() override;
    void Button2Click() override;
    void Button3Click() override;
    void Button4Click() override;
    void Button5Click() override;
    void okClick() override;
    void cc_okClick() override;
    void BitBtn3Click() override;

    void done(int r) override;

protected:
    std::array<uint8_t, 6> bounds(int c) const override;
    QString output_label(int c) const override;
    bool output_known(int c) const override;
    void hide_other_groups() override { hide_groups(); }
    bool ready() override;

private:
    void init_c();
    void hide_groups();
    bool closed_ = false;
    int ajust_channel_ = 1;
};

// Both delay counts are needed: the C220B's for commands, the C120's for the
// rest states and the coin answers.
bool c220b_ready(const Station& s, const MessageSink& tell);

class Tcalibrate_c220 : public TeachWindow {
    Q_OBJECT
public:
    explicit Tcalibrate_c220(Shell& shell, QWidget* parent = nullptr);
    void BitBtn1Click() override;
    void BitBtn4Click(); // OK: on to the validation
};

class Tvalid_c220 : public ValidWindow {
    Q_OBJECT
public:
    explicit Tvalid_c220(Shell& shell, QWidget* parent = nullptr);
    void BitBtn1Click() override;
};

} // namespace zuna
