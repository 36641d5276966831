// TODO: retry on 502 (#41 https://github.com/octo/demo/issues/41)
