# The Python binding over a failed query: a capture whose name is not UTF-8 gives the query's words
# with those bytes replaced, and the status shows as the HRESULT it is.
import os

import qzbios

os.environb[b"QZ_WMI_CAPTURE"] = b"/nonexistent-\xff.json"
fields, reading = qzbios.read()
print(reading["query_status"], reading["query_text"].count("\ufffd"), fields["VTX"] == "")
