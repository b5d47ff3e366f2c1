package brenquill.main.java.tool;

import brenquill.main.java.core.DeviceConnector;
import java.util.Optional;

/**
 * The connector the tool downloads with: the diver sees the progress and the computer's wait for
 * the download button when standard error is a terminal, and is asked for a BLE computer's PIN.
 */
final class DiverConnector extends DeviceConnector {
    private final PinPrompt pinPrompt;
    private final Optional<ProgressBar> bar;

    DiverConnector(PinPrompt pinPrompt, Optional<ProgressBar> bar) {
        this.pinPrompt = pinPrompt;
        this.bar = bar;
    }

    @Override
    public void onDownloadProgress(long current, long maximum) {
        bar.ifPresent(b -> b.progress(current, maximum));
    }

    @Override
    public void onDownloadWaiting() {
        bar.ifPresent(ProgressBar::waiting);
    }

    @Override
    public String onPinCodeRequest(String address, String name) {
        // The prompt must not land in the middle of the bar.
        bar.ifPresent(ProgressBar::end);
        return pinPrompt.onPinCodeRequest(address, name);
    }
}
