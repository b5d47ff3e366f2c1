package brenquill.main.java.tool;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.exceptions.NativeException;
import java.io.PrintStream;
import java.util.List;
import java.util.Set;

/** Prints the supported dive-computer models as a vendor/product table. */
final class ListCommand implements Command {
    private static final String VENDOR = "Vendor";
    private static final String PRODUCT = "Product";

    @Override
    public String name() {
        return "list";
    }

    @Override
    public String summary() {
        return "Print every supported dive-computer model.";
    }

    @Override
    public List<Option> options() {
        return List.of();
    }

    @Override
    public int run(Arguments arguments, PrintStream out, PrintStream err) throws NativeException {
        Set<Device> devices = new DeviceConnector().getSupportedDevices();
        if (devices == null) {
            throw new IllegalStateException("the native library returned no model list");
        }
        int width = VENDOR.length();
        for (Device device : devices) {
            width = Math.max(width, device.getVendor().length());
        }
        String row = "%-" + width + "s  %s%n";
        out.printf(row, VENDOR, PRODUCT);
        for (Device device : devices) {
            out.printf(row, device.getVendor(), device.getProduct());
        }
        out.println(devices.size() + (devices.size() == 1 ? " supported model" : " supported models"));
        return Main.EXIT_OK;
    }
}
