-- Every request is the cashier page's "InfoData" command, as the page sends it.
wrk.method = "POST"
wrk.body = '{"Msg":"InfoData"}'
wrk.headers["Content-Type"] = "text/plain"
