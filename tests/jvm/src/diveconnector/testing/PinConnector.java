package diveconnector.testing;

import brenquill.main.java.core.DeviceConnector;
import java.util.concurrent.atomic.AtomicInteger;

/** A connector that answers PIN requests with a fixed PIN ("throw": throws) and counts them. */
final class PinConnector extends DeviceConnector {
    final AtomicInteger asked = new AtomicInteger();
    final String pin;
    volatile String askedFor;

    PinConnector(String pin) {
        this.pin = pin;
    }

    @Override
    public String onPinCodeRequest(String address, String name) {
        asked.incrementAndGet();
        askedFor = address + " " + name;
        if (pin.equals("throw")) {
            throw new IllegalStateException("no PIN here");
        }
        return pin;
    }
}
