package diveconnector.testing;

import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.Dive;
import diveconnector.details.DiveDetails;

/**
 * A connector that takes the dive details, for {@link IsolatingLoaderProbe}: its loader defines it
 * together with the application's classes and the library's jar.
 */
public final class IsolatedDetailsConnector extends DeviceConnector {
    private int details;

    public void onDiveDetails(Dive dive, DiveDetails diveDetails) {
        if (diveDetails.samples().times().length != dive.getSampleCount()) {
            throw new IllegalStateException("details of another dive");
        }
        details++;
    }

    public int detailsReceived() {
        return details;
    }
}
