// The workers' code, for a page that carries it inside itself: null here,
// where the page is served beside worker.mjs; the one-file page's build puts
// the bundled worker's source in its place.
export default null;
