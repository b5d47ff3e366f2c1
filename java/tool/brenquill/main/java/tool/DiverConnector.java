package brenquill.main.java.tool;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.Dive;
import diveconnector.details.DiveDetails;
import java.io.IOException;
import java.util.ArrayList;
import java.util.IdentityHashMap;
import java.util.List;
import java.util.Map;
import java.util.Optional;
import java.util.OptionalLong;
import java.util.Set;

/**
 * The connector the tool downloads with: the diver sees the progress and the computer's wait for
 * the download button when standard error is a terminal, and is asked for a BLE computer's PIN. A
 * download's dives are written out inside the library's call, so that the fingerprint cache moves
 * on only once they are.
 */
final class DiverConnector extends DeviceConnector {
    /** Writes out the downloaded dives; returns only once every one of them is kept. */
    interface DiveKeeper {
        /**
         * The dives in the order the library added them, and the computer's firmware version
         * when it said it.
         */
        void keep(Device device, OptionalLong firmware, List<DownloadedDive> dives)
            throws IOException, CommandFailure;
    }

    private final PinPrompt pinPrompt;
    private final Optional<ProgressBar> bar;
    private final DiveKeeper keeper;
    // By identity: the application's Dive deems dives with the same start and duration equal.
    private final Map<Dive, DiveDetails> details = new IdentityHashMap<>();
    private OptionalLong firmware = OptionalLong.empty();
    private boolean kept;
    private Exception keepingFailure;

    DiverConnector(PinPrompt pinPrompt, Optional<ProgressBar> bar, DiveKeeper keeper) {
        this.pinPrompt = pinPrompt;
        this.bar = bar;
        this.keeper = keeper;
    }

    /** For a memory dump, which has no dives to keep. */
    DiverConnector(PinPrompt pinPrompt, Optional<ProgressBar> bar) {
        this(pinPrompt, bar, (device, firmware, dives) -> {});
    }

    @Override
    public void onDownloadProgress(long current, long maximum) {
        bar.ifPresent(b -> b.progress(current, maximum));
    }

    @Override
    public void onDeviceInfo(long model, long firmware, long serial) {
        this.firmware = OptionalLong.of(firmware);
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

    /** Called by the library for each dive, right before the dive goes into the set. */
    public void onDiveDetails(Dive dive, DiveDetails diveDetails) {
        details.put(dive, diveDetails);
    }

    /** False, keeping the cache as it was, when the dives could not all be written. */
    @Override
    public boolean onDivesDownloaded(Device device, Set<Dive> dives) {
        bar.ifPresent(ProgressBar::end);
        try {
            List<DownloadedDive> downloaded = new ArrayList<>(dives.size());
            for (Dive dive : dives) {
                downloaded.add(new DownloadedDive(dive, Optional.ofNullable(details.get(dive))));
            }
            keeper.keep(device, firmware, downloaded);
            kept = true;
        } catch (IOException | CommandFailure | RuntimeException e) {
            keepingFailure = e;
        }
        return kept;
    }

    /** Why the diver gave no PIN, when that is why the computer could not be opened. */
    Optional<String> noPinGiven() {
        return pinPrompt.noPinGiven();
    }

    /** Whether the computer asked for its PIN while it was opened. */
    boolean pinAsked() {
        return pinPrompt.asked();
    }

    /** After the download: throws what kept the dives from being written, if anything did. */
    void checkKept() throws IOException, CommandFailure {
        if (keepingFailure instanceof IOException e) {
            throw e;
        }
        if (keepingFailure instanceof CommandFailure e) {
            throw e;
        }
        if (keepingFailure instanceof RuntimeException e) {
            throw e;
        }
        if (!kept) {
            throw new IllegalStateException("the native library did not hand the dives over");
        }
    }
}
