package diveconnector.testing;

import brenquill.main.java.core.DeviceConnector;

/**
 * Main class of the child JVMs of the binding tests: calls getSupportedDevices and prints a
 * {@link ProbeOutcome} line per call. It names no application class but DeviceConnector and
 * catches only Throwable, so it runs on any class variant, even one without NativeException.
 */
public final class BindingProbe {
    // Bounds the allocation walk should the library ever allocate without end.
    private static final long MAX_ALLOCATIONS = 100_000;

    private BindingProbe() {}

    public static void main(String[] args) {
        DcSim.reset();
        DcSim.descriptorsClear();
        DcSim.descriptorsAdd("Suunto", "Vyper", 0x10002, 0x0A, 0x01);
        DcSim.descriptorsAdd("Heinrichs Weikamp", "OSTC 4 (long product name)", 0x60001, 0x3B,
                             0x11);
        DcSim.descriptorsAdd("Atomic Aquatics", "Cobalt", 0x90000, 0, 0x02);
        switch (args.length == 1 ? args[0] : "") {
            case "list":
                System.out.println(call("list", 0).format());
                break;
            case "bad-alloc":
                walkAllocationFailures();
                break;
            default:
                throw new IllegalArgumentException("usage: BindingProbe list|bad-alloc");
        }
    }

    /**
     * Fails the 1st, 2nd, ... C++ allocation of a call in turn, until a call gets through all
     * of its allocations. The first call loads the library unarmed, so that its static
     * initialisation cannot meet the failing allocator.
     */
    private static void walkAllocationFailures() {
        System.out.println(call("before", 0).format());
        for (long nth = 1; nth <= MAX_ALLOCATIONS; nth++) {
            ProbeOutcome outcome = call("nth=" + nth, nth);
            System.out.println(outcome.format());
            if (!outcome.allocationFailed()) {
                break;
            }
        }
        System.out.println(call("after", 0).format());
    }

    /** One call, with its nth C++ allocation failing unless failingAllocation is 0. */
    private static ProbeOutcome call(String step, long failingAllocation) {
        if (failingAllocation > 0) {
            FailingNew.arm(failingAllocation);
        }
        Object result = null;
        Throwable thrown = null;
        try {
            result = new DeviceConnector().getSupportedDevices();
        } catch (Throwable e) {
            thrown = e;
        }
        boolean failed = failingAllocation > 0 && FailingNew.disarm();
        return ProbeOutcome.of(step, failed, result, thrown);
    }
}
